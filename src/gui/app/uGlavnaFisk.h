#pragma once
// The main window: a vertical tool bar over the hidden-tab page control, the
// settings pages bound to the settings records, the notification-area icon
// and the keyboard routing of the cash register. A view over AppContext.
#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <string>

class QButtonGroup;
class QTabWidget;
class QToolBar;
class QToolButton;
class QSystemTrayIcon;
class QMenu;
class QAction;
class QWidget;
class QLabel;
class QLineEdit;
class QCheckBox;
class QGroupBox;
class QDateEdit;
class QComboBox;
class QPlainTextEdit;
class QTableView;
class QKeyEvent;
class QTimer;
class QVBoxLayout;

namespace kv {
class AppContext;
namespace device {
class DeviceClient;
}
namespace inbox {
class FolderEvents;
}
}  // namespace kv
class QSocketNotifier;

namespace kv::gui {

class RecordBinder;
class TRacuni;

class TGlavnaFisk : public QMainWindow {
    Q_OBJECT
public:
    explicit TGlavnaFisk(kv::AppContext& ctx, QWidget* parent = nullptr);
    ~TGlavnaFisk() override;

    // The rest of the start-up once the single-instance rule has let us in:
    // records filled and posted, server mode, zoom, start page, search edits,
    // then the hooks of the later subsystems.
    void StartUp();

    kv::AppContext& context() { return ctx_; }
    RecordBinder* baferBinder() { return bafer_; }
    RecordBinder* kasaBafBinder() { return kasaBaf_; }

    // Scale in percent set by the zoom (100 when not scaled).
    int scalePercent() const { return scalePercent_; }
    // Whether minimising hides to the notification area; without one the
    // window stays minimised on the task bar, so it can always be reached.
    static void setTrayAvailableOverride(int available);  // -1: ask the system
    bool hiddenToTray() const { return hiddenToTray_; }

    // Handlers.
    void TbSetupClick();
    void TbPoslanoClick();
    void ToolButton4Click();
    void TbKasaClick();
    void ToolButton6Click();
    void TabKasaShow();
    void TabSifarniciShow();
    void ApplicationEvents1Minimize();
    void TrayIcon1DblClick();
    void Open1Click();
    void Exit1Click();
    void Button1Click();  // font size test
    void Button4Click();  // zoom test
    void PrintUredjajChange();
    void RenderPrintChange();
    // The fiscal device road.
    void BtFiskalizujClick();
    void BtNewIdClick();
    void Button3Click();  // "Now"
    void CBTestClick();
    void Button2Click();  // console command
    void SetRootElementClick();
    void BackRootElementClick();
    void BtDataClick();   // answer text into the print carriers
    // The input folder.
    void Timer1Timer();
    void RGTimerClick(int index);
    void BtPreuzmiPodatkeClick();
    void Button6Click();
    void Button7Click();
    // Printing.
    void BtTestASCIIprintClick();
    void BtTestPNGClick();
    void BtTestReportClick();
    void Button13Click();  // "Read print setup"
    void Button10Click();  // HeaderImage chooser
    void Button11Click();  // FooterImage chooser
    // The cash register.
    void SBKasirClick();   // "F7 Kasir"

protected:
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool event(QEvent* e) override;
    bool eventFilter(QObject* obj, QEvent* e) override;

private:
    void buildToolBar();
    void buildSetupPage(QWidget* page);
    void buildDevicePage(QWidget* page);
    void buildDataPage(QWidget* page);
    void buildPrinterPage(QWidget* page);
    void buildKasaPage(QWidget* page);
    void buildInvoicePage(QWidget* page);
    void buildParametersPage(QWidget* page);
    void buildGoodsPages(QWidget* ulazi, QWidget* pregledi);  // uGlavnaFiskGoods.cpp
    void buildLastInvoicePage(QWidget* page);
    void buildDeviceLogs(QWidget* box);
    void buildPrintTools(QWidget* page);
    void wireDevice();
    void buildQueue(QWidget* page, QVBoxLayout* outer);
    void wireInbox();
    void showQueue();
    void buildPrintTests(QWidget* page, QVBoxLayout* column);
    void wirePrinting();
    void releasePrinting();
    void fillPrinterLists();
    void fillFontList();
    void showDeviceLog(const kv::device::DeviceClient& client);
    void applyScanTime(int64_t ms);
    void watchInputFolder();
    void showCarriers();
    void showTotals();
    void refreshRootList();

    QWidget* addPage(QTabWidget* tabs, const char* name, const QString& caption);
    void showMainPage(QWidget* page, QToolButton* button);
    void ScaleBy(int percent);
    void applyFontSize();
    void layOutSearchEdits();
    bool trayAvailable() const;
    bool FormKeyDown(QKeyEvent* e);
    void ApplicationEvents1Message(QKeyEvent* e);
    void RestoreFromTray();

    kv::AppContext& ctx_;
    RecordBinder* bafer_ = nullptr;
    RecordBinder* kasaBaf_ = nullptr;

    QToolBar* TbGlavni_ = nullptr;
    QButtonGroup* toolGroup_ = nullptr;
    QTabWidget* PgCtrGlavni_ = nullptr;
    QTabWidget* PgCtrSetup_ = nullptr;
    QTabWidget* PgCtrKasa_ = nullptr;
    QTabWidget* PgCtrSifarnici_ = nullptr;
    QWidget *TabSetup_ = nullptr, *TabRacun_ = nullptr, *TabReport_ = nullptr, *TabKasa_ = nullptr,
            *TabBlagajna_ = nullptr;
    QWidget *TabRacuni_ = nullptr, *TabSifarnici_ = nullptr, *TabUlazi_ = nullptr, *TabParametriKase_ = nullptr,
            *TabImport_ = nullptr, *TabArtikli_ = nullptr;
    QToolButton *TbSetup_ = nullptr, *TbPoslano_ = nullptr, *ToolButton4_ = nullptr, *TbKasa_ = nullptr,
                *ToolButton6_ = nullptr;
    QGroupBox* GBSetupPOS_ = nullptr;
    QWidget *conversionGroup_ = nullptr, *qrGroup_ = nullptr, *imageWidth_ = nullptr, *fontBox_ = nullptr;
    TRacuni* racuni_ = nullptr;  // the "Računi" page
    QWidget* searchPanel_ = nullptr;
    QLineEdit *LEBarkod_ = nullptr, *LESifra_ = nullptr, *LENaziv_ = nullptr, *LEOpis_ = nullptr,
              *DBOpis_ = nullptr, *DBCijena_ = nullptr, *DBZaliha_ = nullptr;
    QLabel *LblOpis_ = nullptr, *LblNaStanju_ = nullptr;
    QDateEdit* DatumRada_ = nullptr;
    QComboBox* DBKasir_ = nullptr;
    QCheckBox* CbServer_ = nullptr;
    RecordBinder* invoiceBinder_ = nullptr;
    QTimer* Timer1_ = nullptr;
    QButtonGroup* RGTimer_ = nullptr;
    QPlainTextEdit* Memo1_ = nullptr;
    QTableView* DBGrid4_ = nullptr;
    bool showingQueue_ = false;
    QPlainTextEdit* MemoPrintSetup_ = nullptr;
    QComboBox* FontName_ = nullptr;
    RecordBinder* paymentBinder_ = nullptr;
    QCheckBox *CBTest_ = nullptr, *CBVLPFR_ = nullptr;
    QLineEdit* EdComm_ = nullptr;
    QPlainTextEdit *MemoStatus_ = nullptr, *MemoJSON_ = nullptr, *MemoText_ = nullptr, *MemoRequest_ = nullptr;
    QPlainTextEdit *MemoJournal_ = nullptr, *MemoURL_ = nullptr, *MemoPng_ = nullptr;
    QLabel* ImgReceipt_ = nullptr;
    int64_t scanTimeMs_ = 500;  // ScanTime in force; 0: no timed polling
    // Files appearing in the input folder wake the watcher at once.
    std::unique_ptr<kv::inbox::FolderEvents> folderEvents_;
    QSocketNotifier* folderNotifier_ = nullptr;
    std::string watchedFolder_;
    QComboBox *CBCommand_ = nullptr, *CBRootElement_ = nullptr;
    QTableView *DBGResponse_ = nullptr, *DBGItems_ = nullptr, *DBGPayment_ = nullptr, *DBGTaxItems_ = nullptr;
    QLabel *LblUkupnoRacun_ = nullptr, *LblUkupnoPlaceno_ = nullptr, *LblPovrat_ = nullptr, *LblPorez_ = nullptr,
           *LblFiskGreska_ = nullptr;

    QSystemTrayIcon* TrayIcon1_ = nullptr;
    QMenu* PopupMenu1_ = nullptr;

    bool firstActivity_ = true;
    bool exiting_ = false;
    bool hiddenToTray_ = false;
    int scalePercent_ = 100;
    QSize baseSize_;
    double baseFontPt_ = 8;
};

}  // namespace kv::gui
