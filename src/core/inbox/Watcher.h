#pragma once
// The input folder watcher: on every tick it lists the input folder, queues
// the new ".kvr" files, and takes the queue one file at a time through the
// load step and the fiscalisation run, answering each with a result file in
// the output folder and retiring the input file. Used by the window (its
// poll timer ticks it) and by the headless service (file events and a poll).
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "inbox/InpRoad.h"
#include "inbox/FileReady.h"
#include "util/MemTable.h"

namespace kv {
class Prompter;
namespace device {
class InvoiceModel;
class Fiscalizer;
class RequestLedger;
}  // namespace device
}  // namespace kv

namespace kv::inbox {

class ResultGroup;

struct WatcherSettings {
    std::string inputFolder;
    std::string outputFolder;
    bool puniOdgovor = false;
};

// Why keyed files cannot be answered with these folders, one text per
// problem; empty when they can. Both folders must exist and differ (a
// result file in the input folder would be taken for, and deleted as, the
// input file); the input folder must let answered files be deleted and the
// output folder take new files. With `testWrite` the output folder is
// proven by writing, syncing and removing a small file in it.
std::vector<std::string> FolderProblems(const WatcherSettings& s, bool testWrite);

class Watcher {
public:
    Watcher(device::InvoiceModel& model, device::Fiscalizer& fisk, std::function<WatcherSettings()> settings,
            Prompter& prompter);
    ~Watcher();

    // Start-up: every ".kvr" already in the input folder is taken as possibly
    // sent before Kovira stopped; the device is asked about each one before
    // it is fiscalised, so none is lost and none is signed twice. Polling starts.
    void StartUp();

    // One poll and the processing of the queue (a tick that arrives during a
    // run does nothing).
    void Tick();
    // The load step on line 0 of the queue; true when a file was loaded.
    bool LoadNext();
    // The result step, run by the fiscalisation run after the answer: the
    // result file is written and the input file retired. While a tick takes
    // the queue, answers are kept together and made durable as a group (see
    // kResultGroup) before their input files are deleted; a run started by
    // hand is answered at once.
    void ResultStep();

    // "Start"/"Stop": ticks do nothing while stopped.
    bool enabled() const { return enabled_; }
    void setEnabled(bool on);
    std::function<void(bool enabled)> onEnabledChanged;

    // The queue box: one bare file name per line; line 0 is next.
    const std::vector<std::string>& queue() const { return queue_; }
    std::string queueText() const;
    void setQueueText(const std::string& text);  // the box is editable
    std::function<void()> onQueueChanged;

    // One line for every file's outcome (the service prints these).
    std::function<void(const std::string& line)> onLog;
    // Checked between files: a service being stopped finishes the file in hand only.
    std::function<bool()> shouldStop;
    // The service keeps going after a file that cannot be loaded (it is left
    // in the folder and tried again once it changes); the window stops
    // polling so the operator sees it.
    bool skipBadFiles = false;

    // The cash register's road for ".inp" files; while it is not set they
    // are dropped from the queue and left in the folder.
    InpRoad* inp = nullptr;

    MemTable& InputFile() { return inputFile_; }
    std::string UlazTip;
    std::string UlazPutanja;
    bool FiskIzKase = false;
    bool busy() const { return busy_; }

    // A file held back (the device could not say whether it signed it, or
    // its result file could not be written) waits until then; the files
    // behind it wait too, so answers keep their order.
    struct Hold {
        std::string name;
        std::string reason;
        std::chrono::steady_clock::time_point until;
        std::chrono::milliseconds backoff{0};
    };
    const std::optional<Hold>& hold() const { return hold_; }
    // The clock of the back-off (tests move it on).
    std::function<std::chrono::steady_clock::time_point()> now = [] { return std::chrono::steady_clock::now(); };

    // ".kvr" and ".inp" in any letter case (producers on other systems write ".KVR").
    static bool IsKvr(const std::string& name);
    static bool IsInp(const std::string& name);
    // At most this many ".inp" files are taken together.
    static constexpr std::size_t kInpBatch = 32;
    // A group of result files is made durable with one flush once it holds
    // this many files, once its first answer has waited kGroupWait, or when
    // the queue runs dry, whichever comes first.
    static constexpr std::size_t kResultGroup = 64;
    static constexpr std::chrono::milliseconds kGroupWait{30};

    // The record of request ids; its lines for a group of answers are synced
    // with the group. May stay null.
    device::RequestLedger* ledger = nullptr;

private:
    void poll(const WatcherSettings& s);
    // Holds `name` back for the next step of the back-off (1 s doubling to
    // 60 s); logs the reason when it differs from the last one logged.
    void holdBack(const std::string& name, const std::string& reason);
    bool folderTrouble(const WatcherSettings& s);
    // Loads a file read already (nullptr: it could not be read, for the reason given).
    bool load(const std::string& name, const std::string* bytes, const std::string& readError);
    void processQueue();
    void takeQueue();
    // Makes the group's answers durable, then deletes their input files and
    // logs their outcomes. False when that failed (it was reported; the
    // input files stay, to be asked about again).
    bool commitResults();
    // Deletes an answered input file; throws when it stays.
    void retire(const std::string& inputName);
    // A file whose run or answer failed: held back (service) or polling
    // stopped with the message (window).
    void failed(const std::string& name, const std::string& what);
    // One ".inp" file through the register's road; false ends the run.
    bool processInp(const std::string& name, Readiness r, const std::string& bytes, const std::string& error);
    // A file that could not be taken: skipped until it changes (service) or
    // polling stopped with its message (window).
    void notLoaded(const std::string& name, const std::string& message);
    void removeFromQueue(const std::string& name);
    void log(const std::string& line) const;
    void changed();

    device::InvoiceModel& model_;
    device::Fiscalizer& fisk_;
    std::function<WatcherSettings()> settings_;
    Prompter& prompter_;
    MemTable inputFile_;
    std::vector<std::string> queue_;
    std::set<std::string> leftovers_;                  // present at start-up: ask the device first
    std::map<std::string, long long> badFiles_;        // name -> mtime of a file that did not load
    std::set<std::string> waiting_;                    // still being written, seen this tick
    std::string loadedName_;                           // bare name of the file in hand
    std::optional<Hold> hold_;
    // Answers of this tick not yet durable: their result files wait in the
    // group, their input files are still there.
    struct Answered {
        std::string input;
        std::string line;  // logged once the input file is gone
    };
    bool grouping_ = false;
    std::unique_ptr<ResultGroup> group_;
    std::string groupFolder_;
    std::chrono::steady_clock::time_point groupStart_;
    std::vector<Answered> answered_;
    std::string lastTrouble_;                          // folder problem last reported
    bool enabled_ = false;
    bool busy_ = false;
};

}  // namespace kv::inbox
