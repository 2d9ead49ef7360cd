#include "inbox/Watcher.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "device/Fiscalizer.h"
#include "device/InvoiceModel.h"
#include "inbox/FileReady.h"
#include "inbox/KvrFile.h"
#include "platform/Platform.h"
#include "util/Prompter.h"

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

bool Watcher::IsKvr(const std::string& name) { return EndsWith(name, ".kvr"); }

bool Watcher::IsInp(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == ".inp";
}

Watcher::Watcher(device::InvoiceModel& model, device::Fiscalizer& fisk, std::function<WatcherSettings()> settings,
                 Prompter& prompter)
    : model_(model), fisk_(fisk), settings_(std::move(settings)), prompter_(prompter),
      inputFile_(MakeInputFileTable()) {
    inputFile_.open();
}

void Watcher::log(const std::string& line) const {
    if (onLog) onLog(line);
}

void Watcher::changed() {
    if (onQueueChanged) onQueueChanged();
}

void Watcher::setEnabled(bool on) {
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

void Watcher::Timer1Timer() {
    if (!enabled_ || busy_ || fisk_.busy()) return;
    Flag running(busy_);
    auto s = settings_();
    std::error_code ec;
    if (s.inputFolder.empty() || !fs::is_directory(s.inputFolder, ec)) return;
    poll(s);
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
        if (!IsKvr(name) || !e.is_regular_file(ec)) continue;
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
    size_t deferred = 0;
    while (!queue_.empty() && enabled_) {
        if (shouldStop && shouldStop()) break;
        std::string name = queue_.front();
        if (!IsKvr(name)) {
            // A line that names no input file (the box is editable), or a text
            // invoice, which the cash register takes: nothing to fiscalise here.
            log(name + ": not a .kvr file, dropped from the queue");
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
        if (r == Readiness::Failed) bytes.clear();
        // The model's saved copy is written once per file, after its run.
        device::InvoiceModel::Batch batch(model_);
        if (!load(name, r == Readiness::Ready ? &bytes : nullptr, error)) {
            if (skipBadFiles && enabled_) continue;
            break;
        }
        bool adopted = false;
        try {
            if (leftovers_.erase(name)) {
                adopted = fisk_.AdoptIfSigned();
                if (adopted) log(name + ": already signed before the restart, answer kept");
            }
            if (!adopted) fisk_.BtFiskalizujClick();
        } catch (const std::exception& e) {
            // The answer could not be kept or the result not written: the
            // device may have signed it, so the next try asks it first.
            leftovers_.insert(name);
            log(name + ": " + e.what());
            prompter_.message(e.what(), MsgKind::Error);
            if (!skipBadFiles) setEnabled(false);
            loadedName_.clear();
            break;
        }
        if (!fisk_.FiskGreska.empty()) break;
    }
}

bool Watcher::BtPreuzmiPodatkeClick() {
    if (queue_.empty()) return false;
    std::string name = queue_.front();
    if (!IsKvr(name)) return false;  // ".inp" is the cash register's road; other lines name no file
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
    std::string resultName = !requestId.empty() ? requestId + ".kvr" : loadedName_;
    if (resultName.empty()) return;
    std::string text = ResultFileText(model_, fisk_.FiskGreska, s.puniOdgovor, fisk_.MemoURL, platform::DecimalSeparator());
    WriteResultFile(s.outputFolder, resultName, text, platform::FileCodePage());

    // Retire the input file by the name it was read under, so that a file
    // not named after its request id is not fiscalised a second time.
    std::string inputName = fromFile ? loadedName_ : resultName;
    std::error_code ec;
    fs::path input = fs::path(s.inputFolder) / inputName;
    if (!s.inputFolder.empty() && fs::exists(input, ec) && !fs::remove(input, ec) && ec) {
        loadedName_.clear();
        leftovers_.insert(inputName);
        throw std::runtime_error("Cannot delete " + input.string() + ": " + ec.message());
    }
    removeFromQueue(inputName);
    if (fromFile) {
        std::string outcome = fisk_.FiskGreska.empty()
                                  ? "signed " + inv.field("PFRnumber").asString() + " " + inv.field("PFRvrijeme").asString()
                                  : fisk_.FiskGreska;
        log(inputName + ": " + outcome + " -> " + (fs::path(s.outputFolder) / resultName).string());
    }
    loadedName_.clear();
    setEnabled(true);
}

}  // namespace kv::inbox
