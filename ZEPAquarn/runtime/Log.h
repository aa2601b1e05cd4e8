#pragma once

#include <QLoggingCategory>

// One logging category per component, named "io.quorvane.zepaquarn.<component>".
// Messages are short lower-case phrases; outside text (transcripts, keys, clipboard) never goes here.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcRuntime)
Q_DECLARE_LOGGING_CATEGORY(lcSettings)
Q_DECLARE_LOGGING_CATEGORY(lcAudio)
Q_DECLARE_LOGGING_CATEGORY(lcHal)
Q_DECLARE_LOGGING_CATEGORY(lcLocalBackend)
Q_DECLARE_LOGGING_CATEGORY(lcOpenAI)
Q_DECLARE_LOGGING_CATEGORY(lcCleanup)
Q_DECLARE_LOGGING_CATEGORY(lcKeychain)
Q_DECLARE_LOGGING_CATEGORY(lcHotkey)
Q_DECLARE_LOGGING_CATEGORY(lcPaste)
Q_DECLARE_LOGGING_CATEGORY(lcSoundCues)
Q_DECLARE_LOGGING_CATEGORY(lcDictation)
Q_DECLARE_LOGGING_CATEGORY(lcDiagnostics)
Q_DECLARE_LOGGING_CATEGORY(lcRecords)
Q_DECLARE_LOGGING_CATEGORY(lcNotifications)
Q_DECLARE_LOGGING_CATEGORY(lcPill)
Q_DECLARE_LOGGING_CATEGORY(lcMenu)
Q_DECLARE_LOGGING_CATEGORY(lcWindow)
Q_DECLARE_LOGGING_CATEGORY(lcUpdater)
Q_DECLARE_LOGGING_CATEGORY(lcRewards)
