#include "window/settings/SettingsPages.h"

#include "menubar/brand/ControlWell.h"
#include "menubar/brand/Typography.h"
#include "window/settings/AppSettingsModel.h"
#include "window/settings/DictionaryText.h"
#include "window/settings/SettingsPage.h"
#include "window/settings/SettingsRows.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace zq {

namespace {

// The dictionary editor's field: a control well with the editor 8 in from its edge, on the editor's
// own transparent background.
class EditorField : public ControlWell {
public:
    explicit EditorField(QWidget *parent) : ControlWell(parent)
    {
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(8, 8, 8, 8);
        setFocusRingShown(true);
    }
};

} // namespace

void buildDictionaryPage(SettingsPage &page, AppSettingsModel &model, const SettingsPageHosts &)
{
    SettingsSection *vocabulary = page.addSection(
        QStringLiteral("Custom vocabulary"), QStringLiteral("Names and jargon ZEPA QUARN should spell correctly."));
    auto *body = new QWidget;
    auto *column = new QVBoxLayout(body);
    column->setContentsMargins(0, 10, 0, 10);
    column->setSpacing(8);
    auto *field = new EditorField(body);
    field->setMinimumHeight(180);
    auto *editor = new QPlainTextEdit(field);
    field->layout()->addWidget(editor);
    editor->setObjectName(QStringLiteral("dictionaryEditor"));
    editor->setFrameShape(QFrame::NoFrame);
    editor->viewport()->setAutoFillBackground(false);
    editor->setAutoFillBackground(false);
    editor->setFont(textFont(textStyle::figureValue));
    editor->setPlainText(model.dictionaryText());
    editor->setAccessibleName(QStringLiteral("Custom vocabulary"));
    QObject::connect(editor, &QPlainTextEdit::textChanged, editor,
                     [&model, editor] { model.setDictionaryText(editorText(*editor->document())); });
    column->addWidget(field);
    column->addWidget(new StyledLabel(QStringLiteral("One word or phrase per line"), textStyle::small, body));
    vocabulary->add(body);
}

} // namespace zq
