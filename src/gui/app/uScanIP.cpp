#include "app/uScanIP.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/AppContext.h"
#include "device/Discovery.h"
#include "util/Prompter.h"

namespace kv::gui {

using kv::device::ScanResult;

TScanIP::TScanIP(kv::AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName("ScanIP");
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    auto* row = new QHBoxLayout();
    BtScanIP_ = new QPushButton("Nadji IP adresu", this);
    BtScanIP_->setObjectName("BtScanIP");
    BtCancelScan_ = new QPushButton("Prekini", this);
    BtCancelScan_->setObjectName("BtCancelScan");
    BtCancelScan_->setEnabled(false);
    BtCancelScan_->setVisible(false);
    row->addWidget(BtScanIP_);
    row->addWidget(BtCancelScan_);
    row->addStretch();
    v->addLayout(row);
    ProgressBar1_ = new QProgressBar(this);
    ProgressBar1_->setObjectName("ProgressBar1");
    ProgressBar1_->setRange(0, 255);
    ProgressBar1_->setValue(0);
    ProgressBar1_->setVisible(false);
    v->addWidget(ProgressBar1_);
    LbAdresa_ = new QLabel(this);
    LbAdresa_->setObjectName("LbAdresa");
    LbAdresa_->setVisible(false);
    v->addWidget(LbAdresa_);

    connect(BtScanIP_, &QPushButton::clicked, this, &TScanIP::BtScanIPClick);
    connect(BtCancelScan_, &QPushButton::clicked, this, &TScanIP::BtCancelScanClick);
    connect(this, &TScanIP::progressed, this, [this](int position, const QString& address) {
        ProgressBar1_->setValue(position);
        LbAdresa_->setText(address);
    }, Qt::QueuedConnection);
    connect(this, &TScanIP::done, this, &TScanIP::finish, Qt::QueuedConnection);
}

TScanIP::~TScanIP() {
    cancel_ = true;
    join();
}

void TScanIP::join() {
    if (worker_.joinable()) worker_.join();
}

void TScanIP::BtScanIPClick() {
    if (scanning()) return;
    const auto& b = ctx_.settings.Bafer;
    kv::device::ScanSettings s;
    s.port = b.text("Port");
    s.token = b.text("Token");
    s.test = ctx_.testService;
    s.networks = networks_;
    s.requestTimeout = requestTimeout_;

    BtScanIP_->setEnabled(false);
    BtCancelScan_->setEnabled(true);
    BtCancelScan_->setVisible(true);
    ProgressBar1_->setValue(0);
    ProgressBar1_->setVisible(true);
    LbAdresa_->clear();
    LbAdresa_->setVisible(true);
    cancel_ = false;
    worker_ = std::thread([this, s] {
        ScanResult r;
        try {
            r = kv::device::FindDevice(s, cancel_, [this](const kv::device::ScanProgress& p) {
                emit progressed(p.position, QString::fromStdString(p.address));
            });
        } catch (const std::exception&) {
            r.kind = ScanResult::Kind::NotFound;
        }
        emit done(static_cast<int>(r.kind), QString::fromStdString(r.address));
    });
}

void TScanIP::BtCancelScanClick() { cancel_ = true; }

void TScanIP::finish(int kind, const QString& address) {
    join();
    ProgressBar1_->setValue(0);
    BtCancelScan_->setEnabled(false);
    BtCancelScan_->setVisible(false);
    ProgressBar1_->setVisible(false);
    LbAdresa_->setVisible(false);
    BtScanIP_->setEnabled(true);

    ScanResult r;
    r.kind = static_cast<ScanResult::Kind>(kind);
    r.address = address.toStdString();
    if (r.kind == ScanResult::Kind::Found) {
        auto& bafer = ctx_.settings.Bafer;
        if (!bafer.isEditing()) bafer.edit();
        bafer.setText("BaseURL", r.baseUrl());
        try {
            bafer.post();  // the settings file is written
        } catch (const std::exception& e) {
            ctx_.prompter.message(e.what(), kv::MsgKind::Error);
        }
    }
    if (r.kind != ScanResult::Kind::Cancelled)
        ctx_.prompter.message(r.message(), r.kind == ScanResult::Kind::Found ? kv::MsgKind::Information
                                                                             : kv::MsgKind::Warning);
}

}  // namespace kv::gui
