#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace zq::platform {

// One item of the clipboard: the bytes it holds per type (a MIME type such as "text/plain"), in the
// item's type order, each type once. Types for which the item yields no data are left out.
using PasteboardItem = std::vector<std::pair<QString, QByteArray>>;

// One fetch of the contents by another application: which client of the display asked (0 when the
// clipboard cannot tell), and the change count of the contents it was given, which may be older than
// the clipboard's count by the time the fetch is told.
struct PasteboardFetch {
    std::uint32_t client = 0;
    qint64 changeCount = 0;
};

// The system-wide clipboard, with a change counter.
//
// Main thread only. Reading may wait for the application that owns the clipboard to hand over its data
// (the display server's clipboard is served by its owner); an owner that does not answer gives no data.
// Every change of the contents, by this process or by any other, increases changeCount(); the value
// read right after a write of ours stays the same until somebody else changes the clipboard.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;

    // The items in order; empty when the clipboard holds nothing.
    virtual std::vector<PasteboardItem> items() = 0;
    // Replaces the contents with `text` as plain text.
    virtual void setString(const QString &text) = 0;
    // Replaces the contents with `items`, in order; no items leaves the clipboard empty. A clipboard that
    // holds a single item merges them, the first item's bytes winning for a type given twice.
    virtual void writeItems(const std::vector<PasteboardItem> &items) = 0;
    virtual qint64 changeCount() = 0;
    // How many times another application has fetched the contents (their data, not only the list of
    // types they come in); nothing when this clipboard cannot tell.
    virtual std::optional<qint64> fetchCount() = 0;
    // Called on the main thread after each such fetch has been answered, with who asked and what they
    // got; a clipboard that cannot tell never calls it. One callback at a time: a new one replaces the last.
    virtual void setOnFetch(std::function<void(const PasteboardFetch &)> onFetch) { (void)onFetch; }
    // Asks the desktop's clipboard manager to keep the contents this process holds, so that they outlive
    // it, and waits for its answer at most `limit`, serving its reads meanwhile (the main loop's events
    // run). True once a manager said it keeps them; false when this process holds nothing, no manager
    // runs, it refused or it did not answer in time. For the quit: a clipboard that nobody keeps empties
    // when the process that holds it ends.
    virtual bool handToManager(std::chrono::milliseconds limit)
    {
        (void)limit;
        return false;
    }
    // For the quit, for a selection that no clipboard manager keeps (the primary one): leaves the text
    // this process holds in it in the display's first cut buffer, which outlives the process and which
    // the old X terminals paste while nobody holds the selection. True when written; false when this
    // process holds no text there or the display cannot be reached.
    virtual bool leaveInCutBuffer() { return false; }
};

} // namespace zq::platform
