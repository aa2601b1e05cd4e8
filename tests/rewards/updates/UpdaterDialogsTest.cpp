// The update windows: what each step shows, plain text from the feed, and one answer per offer.

#include "rewards/updates/UpdaterDialogs.h"
#include "menubar/brand/Palette.h"
#include "support/ViewRender.h"
#include "window/AppAppearance.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

using zq::platform::UpdateChoice;

namespace {

QPushButton *visibleButton(QDialog *window, const QString &text)
{
    for (auto *button : window->findChildren<QPushButton *>())
        if (button->text() == text && button->isVisibleTo(window))
            return button;
    return nullptr;
}

QStringList visibleTexts(QDialog *window)
{
    QStringList texts;
    for (auto *label : window->findChildren<QLabel *>())
        if (label->isVisibleTo(window))
            texts << label->text();
    return texts;
}

zq::platform::AppcastItem offer()
{
    zq::platform::AppcastItem item;
    // A right-to-left override would turn the rest of the sentence backwards.
    item.displayVersionString = QStringLiteral("\u202E<b>1.3.0</b>");
    item.versionString = QStringLiteral("5");
    item.description = QStringLiteral("<script>x</script> Faster start.");
    item.releaseNotesLink = QUrl(QStringLiteral("https://zepaquarn.quorvane.io/notes/1.3.0"));
    return item;
}

} // namespace

TEST(UpdaterDialogsTest, TheOfferShowsFeedTextAsPlainTextAndAnswersOnce)
{
    zq::UpdaterDialogs dialogs(QStringLiteral("1.2.0"));
    std::vector<UpdateChoice> answers;
    // As Check Now shows it: after the smaller check, and centred at its own size all the same.
    dialogs.showUserInitiatedCheck([] {});
    dialogs.showUpdateFound(offer(), [&](UpdateChoice choice) { answers.push_back(choice); });
    QDialog *window = dialogs.window();
    ASSERT_TRUE(window->isVisible());
    const QPoint offCentre = window->frameGeometry().center() - window->screen()->availableGeometry().center();
    EXPECT_TRUE(std::abs(offCentre.x()) <= 2 && std::abs(offCentre.y()) <= 16)
        << "the offer opens " << offCentre.x() << "," << offCentre.y() << " off the screen's centre";
    EXPECT_TRUE(visibleTexts(window).contains(
        "ZEPA QUARN <b>1.3.0</b> is available; you have 1.2.0. Would you like to install it now?"));
    for (auto *label : window->findChildren<QLabel *>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    const QString notes = window->findChild<QPlainTextEdit *>()->toPlainText();
    EXPECT_TRUE(notes.startsWith("<script>x</script> Faster start."));
    EXPECT_TRUE(notes.contains("https://zepaquarn.quorvane.io/notes/1.3.0"));
    ASSERT_TRUE(visibleButton(window, "Install") && visibleButton(window, "Remind Me Later") &&
                visibleButton(window, "Skip This Version"));
    EXPECT_TRUE(visibleButton(window, "Install")->isDefault()) << "Enter installs";
    EXPECT_FALSE(visibleButton(window, "Skip This Version")->autoDefault()) << "Enter never skips";
    EXPECT_EQ(visibleButton(window, "Cancel"), nullptr);

    window->resize(480, 300);
    const QImage image = zq::test::renderWidget(*window, 1.0, Qt::white);
    EXPECT_FALSE(zq::test::saveRender(image, "updater-offer").isEmpty());
    EXPECT_GT(zq::test::inkedPixels(image), 1000);

    visibleButton(window, "Skip This Version")->click();
    window->close();
    EXPECT_EQ(answers, std::vector<UpdateChoice>{UpdateChoice::skip}) << "closing after the answer adds nothing";

    dialogs.showUpdateFound(offer(), [&](UpdateChoice choice) { answers.push_back(choice); });
    window->close();
    EXPECT_EQ(answers.back(), UpdateChoice::dismiss) << "closing the offer is Remind Me Later";
    EXPECT_EQ(answers.size(), 2u);

    auto critical = offer();
    critical.critical = true;
    dialogs.showUpdateFound(critical, [&](UpdateChoice choice) { answers.push_back(choice); });
    EXPECT_EQ(visibleButton(window, "Skip This Version"), nullptr) << "a critical update cannot be skipped";
    EXPECT_NE(visibleButton(window, "Remind Me Later"), nullptr);
}

TEST(UpdaterDialogsTest, ProgressStepsCancelOnceAndResultsOfferOnlyOK)
{
    zq::UpdaterDialogs dialogs(QStringLiteral("1.2.0"));
    int cancels = 0;
    dialogs.showUserInitiatedCheck([&] { ++cancels; });
    QDialog *window = dialogs.window();
    EXPECT_TRUE(visibleTexts(window).contains("Checking for updates…"));
    visibleButton(window, "Cancel")->click();
    window->close();
    EXPECT_EQ(cancels, 1);
    EXPECT_FALSE(window->isVisible());

    dialogs.showDownloadProgress(50, 200, [&] { ++cancels; });
    EXPECT_TRUE(visibleTexts(window).contains("Downloading update…"));
    window->close();
    EXPECT_EQ(cancels, 2) << "closing a download cancels it";

    dialogs.showUpdateNotFound();
    EXPECT_TRUE(visibleTexts(window).contains("You're up to date"));
    EXPECT_TRUE(visibleTexts(window).contains("ZEPA QUARN 1.2.0 is the newest version available."));
    dialogs.showError(QStringLiteral("The update server answered with an error (HTTP 500)."));
    EXPECT_TRUE(visibleTexts(window).contains("The update server answered with an error (HTTP 500)."));
    ASSERT_NE(visibleButton(window, "OK"), nullptr);
    EXPECT_EQ(visibleButton(window, "Cancel"), nullptr);
    visibleButton(window, "OK")->click();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(cancels, 2);
}

TEST(UpdaterDialogsTest, LongRunsOfNotesGoOnOverLinesOfTheirOwn)
{
    constexpr qsizetype longest = zq::UpdaterDialogs::kLongestLine;
    const QString prose = QStringLiteral("Faster start.\n\nFixes a crash when the microphone vanishes.");
    const QString emoji = QString::fromUtf8("\U0001F600");
    struct Case {
        const char *what;
        QString notes;
        QString shown;
    };
    const std::vector<Case> cases{
        {"prose", prose, prose},
        {"a run of exactly the longest line", QString(longest, u'a'), QString(longest, u'a')},
        {"one character more", QString(longest + 1, u'a'), QString(longest, u'a') + u'\n' + u'a'},
        {"a link in a sentence", "See " + QString(100, u'x') + " now",
         "See " + QString(longest, u'x') + u'\n' + QString(20, u'x') + " now"},
        {"no character cut in two", QString(longest - 1, u'a') + emoji + "b",
         QString(longest - 1, u'a') + emoji + u'\n' + "b"},
        {"direction controls go, markup stays text",
         QStringLiteral("\u202E<b>Fast</b>\u202C \u2067start\u2069\u200F\u200E\u061C\u202A\u202B\u202D\u2066\u2068."),
         "<b>Fast</b> start."},
        {"a run counts without them", QString(longest, u'a') + QChar(0x202E) + "b",
         QString(longest, u'a') + u'\n' + "b"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(zq::UpdaterDialogs::notesForDisplay(c.notes), c.shown) << c.what;
}

TEST(UpdaterDialogsTest, AnOfferWithAWordOfMillionsOfCharactersShowsItLineByLine)
{
    zq::UpdaterDialogs dialogs(QStringLiteral("1.2.0"));
    auto item = offer();
    item.description = QString(1'500'000, u'w');
    dialogs.showUpdateFound(item, [](UpdateChoice) {});
    QDialog *window = dialogs.window();
    const QTextDocument *notes = window->findChild<QPlainTextEdit *>()->document();
    qsizetype longestBlock = 0;
    for (QTextBlock block = notes->begin(); block.isValid(); block = block.next())
        longestBlock = std::max<qsizetype>(longestBlock, block.length() - 1);
    EXPECT_LE(longestBlock, zq::UpdaterDialogs::kLongestLine) << "one block would be laid out whole";
    EXPECT_EQ(notes->toPlainText().remove(u'\n').left(1'500'000), item.description);

    window->resize(480, 320);
    const QImage image = zq::test::renderWidget(*window, 1.0, Qt::white);
    EXPECT_FALSE(zq::test::saveRender(image, "updater-offer-long-word").isEmpty());
    // The notes' first lines are drawn: dark text in the notes view's top rows.
    const QWidget *view = window->findChild<QPlainTextEdit *>()->viewport();
    const QRect rows(view->mapTo(window, QPoint(0, 0)), QSize(view->width(), 40));
    int dark = 0;
    for (int y = rows.top(); y <= rows.bottom(); ++y)
        for (int x = rows.left(); x <= rows.right(); ++x)
            dark += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
    EXPECT_GT(dark, 100);
}

TEST(UpdaterDialogsTest, TheOfferAndTheErrorAreBrandDialogsInLightAndDark)
{
    auto &application = *qobject_cast<QApplication *>(QCoreApplication::instance());
    for (const auto appearance : {zq::AppAppearance::light, zq::AppAppearance::dark}) {
        zq::applyAppearance(application, appearance);
        const zq::ColorScheme scheme =
            appearance == zq::AppAppearance::dark ? zq::ColorScheme::dark : zq::ColorScheme::light;
        zq::UpdaterDialogs dialogs(QStringLiteral("1.2.0"));
        dialogs.showUpdateFound(offer(), [](UpdateChoice) {});
        QDialog *window = dialogs.window();
        window->resize(480, 300);
        const QColor page = zq::Palette::color(zq::Palette::windowBackground, scheme);
        const QImage image = zq::test::renderWidget(*window, 1.0, page);
        zq::test::saveRender(image,
                             QStringLiteral("updater-offer-") +
                                 (scheme == zq::ColorScheme::dark ? QStringLiteral("dark") : QStringLiteral("light")));
        // Install is the primary button (the default one), the others quiet, each with its brand height.
        QPushButton *install = visibleButton(window, "Install");
        QPushButton *later = visibleButton(window, "Remind Me Later");
        ASSERT_TRUE(install && later);
        EXPECT_EQ(install->sizeHint().height(), 30);
        EXPECT_EQ(later->sizeHint().height(), 28);
        const auto inside = [&](QPushButton *button) {
            return zq::test::pixelAt(image, QPointF(button->mapTo(window, QPoint(3, button->height() / 2))));
        };
        EXPECT_TRUE(zq::test::sameColor(inside(install), zq::Palette::color(zq::Palette::brandGreen, scheme), 3));
        EXPECT_TRUE(zq::test::sameColor(inside(later), zq::Palette::color(zq::Palette::controlFill, scheme), 3));
        EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, QPointF(2, 2)), page, 3)) << "the dialog's page";
        window->close();

        // The error, as a check without network meets it: the brand page whatever lies under it, the
        // title in the primary text colour, and a frame that offers only to close.
        dialogs.showUserInitiatedCheck([] {});
        dialogs.showError(QStringLiteral("The update server could not be reached."));
        // OK, main now and not before, is laid out as tall as the brand draws it.
        EXPECT_EQ(visibleButton(window, "OK")->height(), 30);
        window->adjustSize();
        const QImage error = zq::test::renderWidget(*window, 1.0, Qt::magenta);
        zq::test::saveRender(error,
                             QStringLiteral("updater-error-") +
                                 (scheme == zq::ColorScheme::dark ? QStringLiteral("dark") : QStringLiteral("light")));
        EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(error, QPointF(2, 2)), page, 3)) << "the error's page";
        EXPECT_TRUE(window->windowFlags().testFlag(Qt::CustomizeWindowHint));
        EXPECT_FALSE(window->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
        EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "a fixed size: nothing to maximise";
        for (auto *label : window->findChildren<QLabel *>()) {
            if (label->text() == QStringLiteral("Update Error")) {
                EXPECT_EQ(label->palette().color(QPalette::WindowText),
                          zq::Palette::color(zq::Palette::textPrimary, scheme));
            }
        }
        window->close();
    }
    // With the desktop's own palette the dialog still wears the brand's page.
    zq::applyAppearance(application, zq::AppAppearance::system);
    zq::UpdaterDialogs dialogs(QStringLiteral("1.2.0"));
    dialogs.showError(QStringLiteral("The update server could not be reached."));
    const QImage error = zq::test::renderWidget(*dialogs.window(), 1.0, Qt::magenta);
    EXPECT_TRUE(zq::test::sameColor(
        zq::test::pixelAt(error, QPointF(2, 2)),
        zq::Palette::color(zq::Palette::windowBackground, zq::colorSchemeOf(*dialogs.window())), 3));
    dialogs.window()->close();
}
