// The input folder on the main window: the poll timer, "Start"/"Stop", the
// queue box, the load button, the folder choosers and the grid of the last
// keyed file.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QSocketNotifier>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/AppContext.h"
#include "app/RecordBinder.h"
#include "app/uGlavnaFisk.h"
#include "device/DeviceWords.h"
#include "inbox/FolderEvents.h"
#include "util/FormBuilders.h"
#include "util/MemTableModel.h"
#include "util/Prompter.h"

namespace kv::gui {

void TGlavnaFisk::buildQueue(QWidget* page, QVBoxLayout* outer) {
    auto* row = new QHBoxLayout();
    auto* left = new QVBoxLayout();
    left->addWidget(new QLabel("Red čekanja", page));
    Memo1_ = new QPlainTextEdit(page);
    Memo1_->setObjectName("Memo1");
    Memo1_->setLineWrapMode(QPlainTextEdit::NoWrap);
    left->addWidget(Memo1_);
    row->addLayout(left, 1);
    auto* load = new QPushButton("Preuzmi podatke", page);
    load->setObjectName("BtPreuzmiPodatke");
    connect(load, &QPushButton::clicked, this, &TGlavnaFisk::BtPreuzmiPodatkeClick);
    row->addWidget(load, 0, Qt::AlignTop);
    outer->addLayout(row, 1);
    DBGrid4_ = new QTableView(page);
    DBGrid4_->setObjectName("DBGrid4");
    DBGrid4_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid4_->verticalHeader()->setDefaultSectionSize(20);
    DBGrid4_->horizontalHeader()->setStretchLastSection(true);
    outer->addWidget(DBGrid4_, 2);
}

void TGlavnaFisk::wireInbox() {
    auto& w = ctx_.watcher();
    auto* model = new MemTableModel(w.InputFile(), {}, &ctx_.prompter, this);
    model->attach(DBGrid4_);

    Timer1_ = new QTimer(this);
    Timer1_->setObjectName("Timer1");
    Timer1_->setInterval(500);
    connect(Timer1_, &QTimer::timeout, this, &TGlavnaFisk::Timer1Timer);
    // The timer and "Start"/"Stop" mirror the watcher.
    w.onEnabledChanged = [this](bool on) {
        if (on && scanTimeMs_ > 0)
            Timer1_->start();
        else
            Timer1_->stop();
        if (auto* b = RGTimer_->button(on ? 0 : 1)) b->setChecked(true);
    };
    connect(RGTimer_, &QButtonGroup::idClicked, this, &TGlavnaFisk::RGTimerClick);
    w.onQueueChanged = [this] { showQueue(); };
    connect(Memo1_, &QPlainTextEdit::textChanged, this, [this] {
        if (!showingQueue_) ctx_.watcher().setQueueText(Memo1_->toPlainText().toStdString());
    });
    ctx_.settings.onScanTimeChanged = [this](int64_t ms) {
        applyScanTime(ms);
        watchInputFolder();  // the folder may have changed with the same save
    };
    ctx_.hooks.inputWatcherStartup.push_back([this] {
        applyScanTime(ctx_.settings.Bafer.integer("ScanTime"));
        ctx_.watcher().StartUp();
        watchInputFolder();
    });
    if (auto* b = findChild<QToolButton*>("Button6")) connect(b, &QToolButton::clicked, this, &TGlavnaFisk::Button6Click);
    if (auto* b = findChild<QToolButton*>("Button7")) connect(b, &QToolButton::clicked, this, &TGlavnaFisk::Button7Click);
}

void TGlavnaFisk::applyScanTime(int64_t ms) {
    // 0 (or less) means no timed polling: a timer of 0 would fire without pause.
    scanTimeMs_ = ms;
    if (ms <= 0) {
        Timer1_->stop();
        return;
    }
    Timer1_->setInterval(static_cast<int>(std::min<int64_t>(ms, 24LL * 3600 * 1000)));
    if (ctx_.watcher().enabled()) Timer1_->start();
}

void TGlavnaFisk::watchInputFolder() {
    const std::string folder = ctx_.settings.Bafer.text("InputFolder");
    if (folder == watchedFolder_ && folderEvents_) return;
    delete folderNotifier_;
    folderNotifier_ = nullptr;
    folderEvents_.reset();
    watchedFolder_ = folder;
    if (folder.empty()) return;
    folderEvents_ = std::make_unique<kv::inbox::FolderEvents>(folder);
    if (!folderEvents_->ok()) return;  // a network folder without events: the poll finds its files
    folderNotifier_ = new QSocketNotifier(folderEvents_->fd(), QSocketNotifier::Read, this);
    connect(folderNotifier_, &QSocketNotifier::activated, this, [this] {
        // A run under way picks the new files up with its queue; otherwise tick now.
        if (folderEvents_->drain() && ctx_.watcher().enabled()) Timer1Timer();
    });
}

void TGlavnaFisk::showQueue() {
    QString text = QString::fromStdString(ctx_.watcher().queueText());
    if (Memo1_->toPlainText() == text) return;
    showingQueue_ = true;
    Memo1_->setPlainText(text);
    showingQueue_ = false;
}

void TGlavnaFisk::Timer1Timer() {
    try {
        ctx_.watcher().Tick();
    } catch (const std::exception& e) {
        ctx_.prompter.message(e.what(), kv::MsgKind::Error);
    }
    LblFiskGreska_->setText(QString::fromStdString(kv::device::FailureWithDeviceWords(ctx_.fisk(), ctx_.client1())));
}

void TGlavnaFisk::RGTimerClick(int index) { ctx_.watcher().setEnabled(index == 0); }

void TGlavnaFisk::BtPreuzmiPodatkeClick() { ctx_.watcher().LoadNext(); }

// The choice is saved with "Sačuvaj".
void TGlavnaFisk::Button6Click() { ChoosePathInto(this, PathKind::Folder, ctx_.settings.Bafer, "InputFolder"); }

void TGlavnaFisk::Button7Click() { ChoosePathInto(this, PathKind::Folder, ctx_.settings.Bafer, "OutputFolder"); }

}  // namespace kv::gui
