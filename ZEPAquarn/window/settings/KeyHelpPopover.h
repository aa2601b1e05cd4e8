#pragma once

#include "menubar/brand/ZepaPopover.h"

namespace zq {

class AppSettingsModel;

// How to get an OpenAI API key: four steps and a link to the keys page, in a popover that opens
// over the help button, clear of the key's test below it. Closing it (Escape, a click outside) tells the model it is
// hidden.
class KeyHelpPopover : public ZepaPopover {
    Q_OBJECT
public:
    KeyHelpPopover(QWidget *anchor, AppSettingsModel &model);

    // Opens over the anchor, or closes.
    void setOpen(bool open);

protected:
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *m_anchor;
    AppSettingsModel &m_model;
};

} // namespace zq
