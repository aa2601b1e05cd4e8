#include "window/settings/SettingsPages.h"

#include "window/settings/AppSettingsModel.h"
#include "window/settings/SettingsPage.h"
#include "window/settings/SettingsPageText.h"
#include "window/settings/SettingsRows.h"

namespace zq {

void buildFAQPage(SettingsPage &page, AppSettingsModel &model, const SettingsPageHosts &)
{
    for (const auto &group : faqGroups(model.triggerNamesInForce())) {
        SettingsSection *section = page.addSection(group.title);
        bool first = true;
        for (const auto &question : group.questions) {
            if (!first)
                section->add(new SettingsDivider);
            first = false;
            section->add(new SettingsFAQRow(question.question, question.answer));
        }
    }
}

QWidget *makeSettingsPage(AppWindowSection section, AppSettingsModel &model, const SettingsPageHosts &hosts,
                          QWidget *parent)
{
    if (section == AppWindowSection::support && hosts.support)
        return hosts.support(parent);
    auto *page = new SettingsPage(model, parent);
    page->setObjectName(QStringLiteral("settingsPage-") + rawValue(section));
    if (const SettingsPageBuilder build = appWindowPage(section).build)
        build(*page, model, hosts);
    page->refresh();
    return page;
}

} // namespace zq
