#pragma once
// "Nadji IP adresu" on the device settings tab: the search for the device on
// the computer's networks runs on a worker thread and reports through queued
// signals, so the window stays alive; "Prekini" ends it.
#include <QString>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kv {
class AppContext;
}

namespace kv::gui {

class TScanIP : public QWidget {
    Q_OBJECT
public:
    explicit TScanIP(kv::AppContext& ctx, QWidget* parent = nullptr);
    ~TScanIP() override;

    // The networks searched instead of the computer's own (tests: "127.0.0.").
    void setNetworks(std::vector<std::string> prefixes) { networks_ = std::move(prefixes); }
    // How long a connected address may take to answer attention.
    void setRequestTimeout(std::chrono::milliseconds t) { requestTimeout_ = t; }
    bool scanning() const { return worker_.joinable(); }

    void BtScanIPClick();
    void BtCancelScanClick();

signals:
    // From the worker thread, delivered queued on the window's.
    void progressed(int position, const QString& address);
    void done(int kind, const QString& address);

private:
    void finish(int kind, const QString& address);
    void join();

    kv::AppContext& ctx_;
    std::vector<std::string> networks_;
    std::chrono::milliseconds requestTimeout_{1500};
    QPushButton* BtScanIP_ = nullptr;
    QPushButton* BtCancelScan_ = nullptr;
    QProgressBar* ProgressBar1_ = nullptr;
    QLabel* LbAdresa_ = nullptr;
    std::atomic<bool> cancel_{false};
    std::thread worker_;
};

}  // namespace kv::gui
