#pragma once

#include "window/AppWindowSection.h"

#include <QWidget>

#include <functional>

namespace zq {

class AppSettingsModel;
class SettingsPage;

// Views other parts of the application put into the settings pages. An empty factory leaves its
// place out of the page.
struct SettingsPageHosts {
    using Factory = std::function<QWidget *(QWidget *parent)>;
    Factory support;          // the Support page body
    Factory triggerRecorder;  // General → Trigger: records the primary and secondary trigger
    Factory animationGallery; // General → Appearance: the listening animation gallery
    Factory depthGauge;       // General → Appearance, last: the colorway gauge
};

// The body of one settings page: its sections, bound to the model. Each page brings its controls up
// to date whenever the model changes.
QWidget *makeSettingsPage(AppWindowSection section, AppSettingsModel &model, const SettingsPageHosts &hosts,
                          QWidget *parent);

} // namespace zq
