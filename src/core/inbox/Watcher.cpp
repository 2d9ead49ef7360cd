#include "inbox/Watcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <cstring>
#include <sstream>

#include "device/Fiscalizer.h"
#include "device/InvoiceModel.h"
#include "device/RequestLedger.h"
#include "inbox/FileReady.h"
#include "inbox/KvrFile.h"
#include "inbox/ResultGroup.h"
#include "platform/Platform.h"
#include "util/Prompter.h"
#include "util/SafeText.h"

namespace fs = std::filesystem;

namespace kv::inbox {

namespace {
bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

long long MTimeNs(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
}

struct Flag {
    bool& f;
    explicit Flag(bool& flag) : f(flag) { f = true; }
    ~Flag() { f = false; }
};
}  // namespace

namespace {
bool HasExtension(const std::string& name, const char* ext) {
    if (name.size() <= 4) return false;
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == ext;
}
}  // namespace

bool Watcher::IsKvr(const std::string& name) { return HasExtension(name, ".kvr"); }
bool Watcher::IsInp(const std::string& name) { return HasExtension(name, ".inp"); }

std::vector<std::string> FolderProblems(const WatcherSettings& s, bool testWrite) {
    std::vector<std::string> out;
    std::error_code ec;
    const bool in = !s.inputFolder.empty() && fs::is_directory(s.inputFolder, ec);
    const bool outDir = !s.outputFolder.empty() && fs::is_directory(s.outputFolder, ec);
    if (s.inputFolder.empty())
        out.push_back("InputFolder is not set");
    else if (!in)
        out.push_back("InputFolder '" + s.inputFolder + "' is not an existing folder");
    else if (::access(s.inputFolder.c_str(), W_OK | X_OK) != 0)
        out.push_back("InputFolder '" + s.inputFolder + "': answered files cannot be deleted (" + std::strerror(errno) +
                      ")");
    if (s.outputFolder.empty())
        out.push_back("OutputFolder is not set");
    else if (!outDir)
        out.push_back("OutputFolder '" + s.outputFolder + "' is not an existing folder");
    if (in && outDir && fs::equivalent(s.inputFolder, s.outputFolder, ec))
        out.push_back("OutputFolder is the InputFolder: result files would be taken for input files");
    else if (outDir && ::access(s.outputFolder.c_str(), W_OK | X_OK) != 0)
        out.push_back("OutputFolder '" + s.outputFolder + "' is not writable (" + std::strerror(errno) + ")");
    else if (outDir && testWrite) {
        // Named like a result file's temporary, so one left by a crash is swept at start-up.
        const std::string probe = (fs::path(s.outputFolder) / (".kovira-write-test." + std::to_string(::getpid()) + ".tmp")).string();
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        bool ok = fd >= 0 && ::write(fd, "test\r\n", 6) == 6 && ::fsync(fd) == 0;
        const int err = errno;
        if (fd >= 0) ::close(fd);
        ::unlink(probe.c_str());
        if (!ok)
            out.push_back("OutputFolder '" + s.outputFolder + "' does not take files (" + std::strerror(err) + ")");
    }
    return out;
}

Watcher::Watcher(device::InvoiceModel& model, device::Fiscalizer& fisk, std::function<WatcherSettings()> settings,
                 Prompter& prompter)
    : model_(model), fisk_(fisk), settings_(std::move(settings)), prompter_(prompter),
      inputFile_(MakeInputFileTable()) {
    inputFile_.open();
}

Watcher::~Watcher() = default;

void Watcher::log(const std::string& line) const {
    // File names and device texts come from outside: one line, no control characters.
    if (onLog) onLog(LogSafe(line));
}

void Watcher::holdBack(const std::string& name, const std::string& reason) {
    using namespace std::chrono;
    milliseconds backoff = seconds(1);
    bool again = hold_ && hold_->name == name;
    if (again) backoff = std::min<milliseconds>(hold_->backoff * 2, seconds(60));
    if (!again || hold_->reason != reason) log(name + ": " + reason + " (tried again with a growing pause)");
    hold_ = Hold{name, reason, now() + backoff, backoff};
}

bool Watcher::folderTrouble(const WatcherSettings& s) {
    auto problems = FolderProblems(s, false);
    if (problems.empty()) {
        lastTrouble_.clear();
        return false;
    }
    std::string text;
    for (const auto& p : problems) text += (text.empty() ? "" : "; ") + p;
    // Reported once per change, never once per tick.
    if (text != lastTrouble_) {
        lastTrouble_ = text;
        log(text);
        if (!skipBadFiles) prompter_.message(text, MsgKind::Error);
    }
    if (!skipBadFiles) setEnabled(false);
    return true;
}

void Watcher::changed() {
    if (onQueueChanged) onQueueChanged();
}

void Watcher::setEnabled(bool on) {
    // "Start" pressed again in the window: a folder problem that remains is told again.
    if (on && !enabled_ && !skipBadFiles) lastTrouble_.clear();
    if (enabled_ == on) return;
    enabled_ = on;
    if (onEnabledChanged) onEnabledChanged(on);
}

std::string Watcher::queueText() const {
    std::string out;
    for (size_t i = 0; i < queue_.size(); ++i) out += (i ? "\n" : "") + queue_[i];
    return out;
}

void Watcher::setQueueText(const std::string& text) {
    queue_.clear();
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        queue_.push_back(line);
    }
    changed();
}

void Watcher::removeFromQueue(const std::string& name) {
    auto it = std::find(queue_.begin(), queue_.end(), name);
    if (it == queue_.end()) return;
    queue_.erase(it);
    changed();
}

void Watcher::StartUp() {
    auto s = settings_();
    std::error_code ec;
    if (!s.inputFolder.empty() && fs::is_directory(s.inputFolder, ec)) {
        for (const auto& e : fs::directory_iterator(s.inputFolder, ec)) {
            std::string name = e.path().filename().string();
            if (e.is_regular_file(ec) && IsKvr(name)) leftovers_.insert(name);
        }
        // Records of ".inp" files that were deleted while Kovira was not
        // looking no longer stand for a file; those still here resume.
        if (inp) {
            std::set<std::string> present;
            for (const auto& e : fs::directory_iterator(s.inputFolder, ec)) {
                std::string name = e.path().filename().string();
                if (IsInp(name)) present.insert(name);
            }
            try {
                inp->Sweep(s.inputFolder, present);
            } catch (const std::exception& e) {
                log(e.what());
            }
        }
    }
    // Half-written result files of a run that was cut short.
    if (!s.outputFolder.empty() && fs::is_directory(s.outputFolder, ec)) {
        for (const auto& e : fs::directory_iterator(s.outputFolder, ec)) {
            std::string name = e.path().filename().string();
            if (name.size() > 5 && name[0] == '.' && EndsWith(name, ".tmp") && e.is_regular_file(ec))
                fs::remove(e.path(), ec);
        }
    }
    setEnabled(true);
}

void Watcher::Tick() {
    if (!enabled_ || busy_ || fisk_.busy()) return;
    Flag running(busy_);
    auto s = settings_();
    std::error_code ec;
    if (s.inputFolder.empty() || !fs::is_directory(s.inputFolder, ec)) return;
    poll(s);
    if (queue_.empty() || folderTrouble(s)) return;
    processQueue();
}

void Watcher::poll(const WatcherSettings& s) {
    struct Found {
        long long mtime;
        std::string name;
    };
    std::vector<Found> found;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(s.inputFolder, ec)) {
        std::string name = e.path().filename().string();
        if (!(IsKvr(name) || (inp && IsInp(name))) || !e.is_regular_file(ec)) continue;
        long long mtime = MTimeNs(e.path().string());
        if (auto bad = badFiles_.find(name); bad != badFiles_.end()) {
            if (bad->second == mtime) continue;  // unchanged since it failed to load
            badFiles_.erase(bad);
        }
        found.push_back({mtime, name});
    }
    // Oldest first, so files are answered in the order they arrived.
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.mtime != b.mtime ? a.mtime < b.mtime : a.name < b.name;
    });
    std::string text = queueText();
    bool added = false;
    for (const auto& f : found) {
        // The queue box is searched as text: a name already in it, even as
        // part of a longer one, is not queued again.
        if (text.find(f.name) != std::string::npos) continue;
        queue_.push_back(f.name);
        text += "\n" + f.name;
        added = true;
    }
    if (added) changed();
}

void Watcher::processQueue() {
    // Answers are grouped for this tick; the record's syncs go with the group.
    grouping_ = true;
    if (ledger) ledger->deferSyncs(true);
    struct EndGroup {
        Watcher& w;
        ~EndGroup() {
            w.grouping_ = false;
            // Left by an exception: those input files stay and are asked about again.
            for (const auto& a : w.answered_) w.leftovers_.insert(a.input);
            w.answered_.clear();
            w.group_.reset();
            try {
                if (w.ledger) w.ledger->deferSyncs(false);
            } catch (const std::exception& e) {
                w.log(e.what());
            }
        }
    } endGroup{*this};
    // The model's saved copy is written once, after the tick: every file
    // taken stays in the input folder until its answer is on disk, so the
    // copy of the last invoice is all that is worth keeping.
    device::InvoiceModel::Batch saveOnce(model_);
    takeQueue();
    commitResults();
}

void Watcher::takeQueue() {
    size_t deferred = 0;
    while (!queue_.empty() && enabled_) {
        if (shouldStop && shouldStop()) break;
        if (group_ && (group_->size() >= kResultGroup ||
                       std::chrono::steady_clock::now() - groupStart_ >= kGroupWait) && !commitResults())
            break;
        std::string name = queue_.front();
        if (hold_ && hold_->name != name && std::find(queue_.begin(), queue_.end(), hold_->name) == queue_.end())
            hold_.reset();  // the held file left the queue
        if (hold_ && hold_->name == name && now() < hold_->until) break;
        if (!IsKvr(name) && !(inp && IsInp(name))) {
            // A line that names no input file (the box is editable).
            log(name + ": not an input file, dropped from the queue");
            removeFromQueue(name);
            continue;
        }
        std::string path = settings_().inputFolder + "/" + name;
        std::string bytes, error;
        Readiness r = ReadWhenReady(path, &bytes, &error);
        if (r == Readiness::Gone) {
            log(name + ": gone from the input folder, dropped from the queue");
            removeFromQueue(name);
            continue;
        }
        if (r == Readiness::Busy) {
            // Still being written: let the others go first, come back next tick.
            queue_.erase(queue_.begin());
            queue_.push_back(name);
            changed();
            if (++deferred >= queue_.size()) break;
            continue;
        }
        deferred = 0;
        if (IsInp(name)) {
            // The register's road retires its own files: what is answered before it goes first.
            if (!commitResults()) break;
            if (ledger) ledger->deferSyncs(false);
            const bool go = processInp(name, r, bytes, error);
            if (ledger) ledger->deferSyncs(true);
            if (!go) break;
            continue;
        }
        if (r == Readiness::Failed) bytes.clear();
        if (!load(name, r == Readiness::Ready ? &bytes : nullptr, error)) {
            if (skipBadFiles && enabled_) continue;
            break;
        }
        const bool leftover = leftovers_.count(name) != 0;
        device::FiscalOutcome outcome;
        try {
            outcome = fisk_.Fiscalize(leftover ? device::Fiscalizer::Start::AskDeviceFirst
                                               : device::Fiscalizer::Start::Normal);
        } catch (const std::exception& e) {
            // The answer could not be kept or the result not written: the
            // device may have signed it, so the next try asks it first.
            leftovers_.insert(name);
            loadedName_.clear();
            failed(name, e.what());
            break;
        }
        if (outcome.kind == device::FiscalOutcome::Kind::Pending) {
            // The device may have signed it and could not say: the file stays
            // untouched and the device is asked again after a pause.
            leftovers_.insert(name);
            loadedName_.clear();
            setEnabled(true);
            holdBack(name, outcome.text);
            break;
        }
        if (!outcome.started()) break;  // another run holds the device: next tick
        leftovers_.erase(name);
        if (hold_ && hold_->name == name) hold_.reset();
        // A refused or failed invoice ends the tick; the files behind it wait.
        if (!outcome.done()) break;
    }
}

void Watcher::failed(const std::string& name, const std::string& what) {
    if (skipBadFiles) {
        holdBack(name, what);
    } else {
        log(name + ": " + what);
        prompter_.message(what, MsgKind::Error);
        setEnabled(false);
    }
}

bool Watcher::commitResults() {
    if (!group_) return true;
    std::vector<Answered> answered;
    answered.swap(answered_);
    try {
        // The record is on disk before any input file goes: an answer kept
        // in it is never asked for again. On the same local disk the group's
        // sync of the file system covers it.
        const bool covered = ledger && !ledger->path().empty() && group_->syncsFileSystemOf(ledger->path());
        if (ledger && !covered) ledger->Sync();
        group_->commit();
        if (covered) ledger->syncedWithFileSystem();
        group_.reset();
    } catch (const std::exception& e) {
        group_.reset();
        // Not one input file is deleted: each goes back to the head of the
        // queue, in order, and the device is asked about it first.
        std::vector<std::string> back;
        for (const auto& a : answered) {
            leftovers_.insert(a.input);
            if (std::find(queue_.begin(), queue_.end(), a.input) == queue_.end()) back.push_back(a.input);
        }
        queue_.insert(queue_.begin(), back.begin(), back.end());
        changed();
        if (!answered.empty()) failed(answered.front().input, e.what());
        return false;
    }
    bool ok = true;
    for (const auto& a : answered) {
        try {
            retire(a.input);
        } catch (const std::exception& e) {
            if (ok) failed(a.input, e.what());
            ok = false;
            continue;
        }
        if (!a.line.empty()) log(a.line);
    }
    return ok;
}

void Watcher::retire(const std::string& inputName) {
    const auto s = settings_();
    fs::path input = fs::path(s.inputFolder) / inputName;
    std::error_code ec;
    if (!s.inputFolder.empty() && fs::exists(input, ec) && !fs::remove(input, ec) && ec) {
        leftovers_.insert(inputName);
        throw std::runtime_error("Cannot delete " + input.string() + ": " + ec.message());
    }
    removeFromQueue(inputName);
}

void Watcher::notLoaded(const std::string& name, const std::string& message) {
    log(name + ": " + message);
    if (skipBadFiles) {
        // Left in the folder and tried again once the producer replaces it.
        badFiles_[name] = MTimeNs(UlazPutanja);
        removeFromQueue(name);
        setEnabled(true);
    } else {
        prompter_.message(message, MsgKind::Error);
        setEnabled(false);  // polling stays stopped until "Start"
    }
}

bool Watcher::processInp(const std::string& name, Readiness r, const std::string& bytes, const std::string& error) {
    const auto s = settings_();
    UlazTip = "inp";
    UlazPutanja = s.inputFolder + "/" + name;
    if (r != Readiness::Ready) {
        notLoaded(name, error + ": " + UlazPutanja);
        return skipBadFiles && enabled_;
    }
    // The ".inp" files right behind it that are ready go with it: they share
    // the register's commits, which are what a file costs.
    std::vector<InpRoad::File> batch{{name, bytes}};
    for (std::size_t k = 1; k < queue_.size() && batch.size() < kInpBatch; ++k) {
        const std::string& next = queue_[k];
        if (!IsInp(next) || (hold_ && hold_->name == next)) break;
        std::string b, e;
        if (ReadWhenReady(s.inputFolder + "/" + next, &b, &e) != Readiness::Ready) break;
        batch.push_back({next, std::move(b)});
    }
    const auto results = inp->Take(s.inputFolder, batch, true);
    bool go = true;
    std::vector<std::pair<std::string, std::string>> retired;
    for (const auto& res : results) {
        UlazPutanja = s.inputFolder + "/" + res.name;
        switch (res.outcome) {
            case InpRoad::Outcome::Loaded: continue;  // behind a hand-off that stopped: next round
            case InpRoad::Outcome::NotLoaded:
                notLoaded(res.name, res.message);
                if (!(skipBadFiles && enabled_)) go = false;
                continue;
            case InpRoad::Outcome::Pending:
                // The device may have signed it and could not say (or the
                // register could not serve): the file and its document stay.
                if (go) holdBack(res.name, res.message);
                go = false;
                continue;
            case InpRoad::Outcome::Signed:
            case InpRoad::Outcome::Failed: break;
        }
        if (hold_ && hold_->name == res.name) hold_.reset();
        // Deleted only now: a Kovira stopped before this finds the file again
        // and its document with it, so it is never signed a second time.
        std::error_code ec;
        if (fs::exists(UlazPutanja, ec) && !fs::remove(UlazPutanja, ec) && ec) {
            const std::string m = "Cannot delete " + UlazPutanja + ": " + ec.message();
            if (skipBadFiles) {
                if (go) holdBack(res.name, m);
            } else {
                log(res.name + ": " + m);
                prompter_.message(m, MsgKind::Error);
                setEnabled(false);
            }
            go = false;
            continue;
        }
        retired.emplace_back(res.name, res.digest);
        removeFromQueue(res.name);
        log(res.name + ": " + res.message);
        // A refused fiscalisation ends the run; the files behind it wait for the next tick.
        if (res.outcome == InpRoad::Outcome::Failed) go = false;
    }
    try {
        inp->Retired(s.inputFolder, retired);
    } catch (const std::exception& e) {
        log(std::string("retiring input files: ") + e.what());  // swept at the next start: the files are gone
    }
    return go;
}

bool Watcher::LoadNext() {
    if (queue_.empty()) return false;
    std::string name = queue_.front();
    if (inp && IsInp(name)) {
        // By hand: the document is made and confirmed; the next tick hands it off.
        const auto s = settings_();
        UlazTip = "inp";
        UlazPutanja = s.inputFolder + "/" + name;
        std::string bytes, error;
        Readiness r = Readiness::Busy;
        for (int attempt = 0; attempt < 20 && r == Readiness::Busy; ++attempt) {
            r = ReadWhenReady(UlazPutanja, &bytes, &error);
            if (r == Readiness::Busy) ::usleep(25000);
        }
        if (r == Readiness::Gone) error = "File not found";
        if (r == Readiness::Busy) error = "The file is still being written";
        if (r != Readiness::Ready) {
            notLoaded(name, error + ": " + UlazPutanja);
            return false;
        }
        auto res = inp->Take(s.inputFolder, {{name, bytes}}, false).front();
        if (res.outcome == InpRoad::Outcome::NotLoaded) {
            notLoaded(name, res.message);
            return false;
        }
        log(name + ": " + res.message);
        return true;
    }
    if (!IsKvr(name)) return false;  // other lines name no file
    std::string path = settings_().inputFolder + "/" + name;
    std::string bytes, error;
    Readiness r = Readiness::Busy;
    // By hand the operator may click while the producer still writes: wait a little, never long.
    for (int attempt = 0; attempt < 20 && r == Readiness::Busy; ++attempt) {
        r = ReadWhenReady(path, &bytes, &error);
        if (r == Readiness::Busy) ::usleep(25000);
    }
    if (r == Readiness::Gone) error = "File not found";
    if (r == Readiness::Busy) error = "The file is still being written";
    return load(name, r == Readiness::Ready ? &bytes : nullptr, error);
}

bool Watcher::load(const std::string& name, const std::string* bytes, const std::string& readError) {
    auto s = settings_();
    UlazTip = "kvr";
    setEnabled(false);
    UlazPutanja = s.inputFolder + "/" + name;
    try {
        if (!bytes) throw std::runtime_error(readError + ": " + UlazPutanja);
        LoadKvr(*bytes, inputFile_, model_, platform::DecimalSeparator());
    } catch (const std::exception& e) {
        log(name + ": " + e.what());
        if (skipBadFiles) {
            // Left in the folder and tried again once the producer replaces it.
            badFiles_[name] = MTimeNs(UlazPutanja);
            removeFromQueue(name);
            setEnabled(true);
        } else {
            prompter_.message(e.what(), MsgKind::Error);  // polling stays stopped
        }
        return false;
    }
    loadedName_ = name;
    return true;
}

void Watcher::ResultStep() {
    if (FiskIzKase) return;
    auto s = settings_();
    const auto& inv = model_.Invoice;
    std::string requestId = (inv.isEmpty() && !inv.isEditing()) ? std::string() : inv.field("RequestId").asString();
    bool fromFile = !loadedName_.empty();
    // An invoice signed by hand has no producer waiting unless an output folder is set.
    if (!fromFile && s.outputFolder.empty()) return;
    if (fromFile && s.outputFolder.empty()) throw ResultWriteError("OutputFolder is not set: no result file for " + loadedName_);
    // An id that cannot name a file is answered under the name the file came in.
    std::string resultName =
        !requestId.empty() && !device::RequestIdProblem(requestId) ? requestId + ".kvr" : loadedName_;
    if (resultName.empty()) return;
    std::error_code ec;
    if (fisk_.FiskGreska == device::msg::kRequestIdReused &&
        (fs::exists(fs::path(s.outputFolder) / resultName, ec) ||
         (group_ && groupFolder_ == s.outputFolder && group_->holds(resultName))))
        // That result file answers the sale that owns the id: never replaced by this refusal.
        throw ResultWriteError("Cannot answer " + (fromFile ? loadedName_ : resultName) + ": its RequestId belongs to "
                               "another sale whose result file " + resultName + " has not been collected yet");
    std::string text = ResultFileText(model_, fisk_.FiskGreska, s.puniOdgovor, fisk_.answer().verificationUrl,
                                      platform::DecimalSeparator());

    // The input file is retired by the name it was read under, so that a
    // file not named after its request id is not fiscalised a second time.
    const std::string inputName = fromFile ? loadedName_ : resultName;
    std::string line;
    if (fromFile) {
        std::string outcome = fisk_.FiskGreska.empty()
                                  ? "signed " + inv.field("PFRnumber").asString() + " " + inv.field("PFRvrijeme").asString()
                                  : fisk_.FiskGreska + (fisk_.requestIdProblem().empty() ? "" : " (" + fisk_.requestIdProblem() + ")");
        line = inputName + ": " + outcome + " -> " + (fs::path(s.outputFolder) / resultName).string();
    }
    if (grouping_) {
        if (group_ && groupFolder_ != s.outputFolder) commitResults();
        if (!group_) {
            group_ = std::make_unique<ResultGroup>(s.outputFolder);
            groupFolder_ = s.outputFolder;
            groupStart_ = std::chrono::steady_clock::now();
        }
        group_->add(resultName, text, platform::FileCodePage());
        answered_.push_back({inputName, line});
        removeFromQueue(inputName);
    } else {
        WriteResultFile(s.outputFolder, resultName, text, platform::FileCodePage());
        try {
            retire(inputName);
        } catch (...) {
            loadedName_.clear();
            throw;
        }
        if (!line.empty()) log(line);
    }
    loadedName_.clear();
    setEnabled(true);
}

}  // namespace kv::inbox
