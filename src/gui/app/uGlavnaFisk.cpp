#include "app/uGlavnaFisk.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/AppContext.h"
#include "app/ShellRules.h"
#include "app/AppTexts.h"
#include "inbox/FolderEvents.h"
#include "util/DeviceWait.h"
#include "util/FormBuilders.h"
#include "app/RecordBinder.h"
#include "app/uBlagajna.h"
#include "app/uScanIP.h"
#include "register/uSifarnici.h"
#include "register/Login.h"
#include "register/uDMGlavni.h"
#include "register/uLogin.h"
#include "register/uRacuni.h"
#include "util/Prompter.h"

namespace kv::gui {

namespace {
int g_trayOverride = -1;

QString Q(const std::string& s) { return QString::fromStdString(s); }

QLineEdit* Edit(QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    return e;
}
}  // namespace

void TGlavnaFisk::setTrayAvailableOverride(int available) { g_trayOverride = available; }

TGlavnaFisk::TGlavnaFisk(kv::AppContext& ctx, QWidget* parent) : QMainWindow(parent), ctx_(ctx) {
    // FormCreate, the parts that need no settings.
    setObjectName("GlavnaFisk");
    setWindowTitle("Kovira");
    QFont f("Tahoma");
    f.setPointSizeF(8);
    setFont(f);

    bafer_ = new RecordBinder(ctx_.settings.Bafer, ctx_.prompter, this);
    kasaBaf_ = new RecordBinder(ctx_.settings.KasaBaf, ctx_.prompter, this);

    PgCtrGlavni_ = new QTabWidget(this);
    PgCtrGlavni_->setObjectName("PgCtrGlavni");
    PgCtrGlavni_->tabBar()->hide();
    PgCtrGlavni_->setDocumentMode(true);
    setCentralWidget(PgCtrGlavni_);

    TabSetup_ = addPage(PgCtrGlavni_, "TabSetup", "Podešavanja");
    TabRacun_ = addPage(PgCtrGlavni_, "TabRacun", "Zadnji račun");
    TabReport_ = addPage(PgCtrGlavni_, "TabReport", "Izvještaj");
    TabKasa_ = addPage(PgCtrGlavni_, "TabKasa", "Kasa");
    TabBlagajna_ = addPage(PgCtrGlavni_, "TabBlagajna", "Blagajna");
    buildToolBar();
    buildSetupPage(TabSetup_);
    buildKasaPage(TabKasa_);
    buildLastInvoicePage(TabRacun_);
    new TBlagajna(ctx_, TabBlagajna_, TabReport_, this);
    wireDevice();
    // The device is waited for with the window alive: it repaints, its
    // timers run, and it shows what it waits for.
    ctx_.setDeviceWaiter([this](const kv::device::WaitingTransport::Request& r) { return WaitForDevice(this, r); });
    wireInbox();
    wirePrinting();

    // The system tray icon and its menu.
    TrayIcon1_ = new QSystemTrayIcon(this);
    TrayIcon1_->setObjectName("TrayIcon1");
    TrayIcon1_->setIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
    TrayIcon1_->setToolTip("Kovira");
    PopupMenu1_ = new QMenu(this);
    PopupMenu1_->setObjectName("PopupMenu1");
    QAction* open = PopupMenu1_->addAction("Open");
    open->setObjectName("Open1");
    QAction* exit = PopupMenu1_->addAction("Exit");
    exit->setObjectName("Exit1");
    connect(open, &QAction::triggered, this, &TGlavnaFisk::Open1Click);
    connect(exit, &QAction::triggered, this, &TGlavnaFisk::Exit1Click);
    TrayIcon1_->setContextMenu(PopupMenu1_);
    connect(TrayIcon1_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::DoubleClick) TrayIcon1DblClick();
    });

    // Key preview and the application-wide Esc handling.
    qApp->installEventFilter(this);

    baseSize_ = QSize(1077, 707);
    resize(baseSize_);
    if (QScreen* s = QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());
    setWindowTitle(Q(ctx_.Caption()));
}

TGlavnaFisk::~TGlavnaFisk() {
    ctx_.setDeviceWaiter(nullptr);
    if (qApp) qApp->removeEventFilter(this);
    releasePrinting();
}

QWidget* TGlavnaFisk::addPage(QTabWidget* tabs, const char* name, const QString& caption) {
    auto* w = new QWidget(tabs);
    w->setObjectName(name);
    tabs->addTab(w, caption);
    return w;
}

void TGlavnaFisk::buildToolBar() {
    TbGlavni_ = new QToolBar(this);
    TbGlavni_->setObjectName("TbGlavni");
    TbGlavni_->setOrientation(Qt::Vertical);
    TbGlavni_->setMovable(false);
    TbGlavni_->setFloatable(false);
    TbGlavni_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    TbGlavni_->toggleViewAction()->setVisible(false);
    addToolBar(Qt::LeftToolBarArea, TbGlavni_);
    toolGroup_ = new QButtonGroup(this);
    toolGroup_->setExclusive(true);
    struct B {
        const char* name;
        const char* caption;
        QStyle::StandardPixmap icon;
        QToolButton** slot;
        void (TGlavnaFisk::*click)();
    } buttons[] = {
        {"TbSetup", "Setup", QStyle::SP_FileDialogDetailedView, &TbSetup_, &TGlavnaFisk::TbSetupClick},
        {"TbPoslano", "Zadnji račun", QStyle::SP_FileIcon, &TbPoslano_, &TGlavnaFisk::TbPoslanoClick},
        {"ToolButton4", "Računi spisak", QStyle::SP_FileDialogListView, &ToolButton4_, &TGlavnaFisk::ToolButton4Click},
        {"TbKasa", "Kasa", QStyle::SP_DriveHDIcon, &TbKasa_, &TGlavnaFisk::TbKasaClick},
        {"ToolButton6", "Blagajna", QStyle::SP_DialogSaveButton, &ToolButton6_, &TGlavnaFisk::ToolButton6Click},
    };
    for (const auto& b : buttons) {
        auto* tb = new QToolButton(TbGlavni_);
        tb->setObjectName(b.name);
        tb->setText(b.caption);
        tb->setIcon(style()->standardIcon(b.icon));
        tb->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        tb->setCheckable(true);
        tb->setAutoRaise(true);
        tb->setFixedSize(71, 44);
        // The captions must fit the fixed button width whatever the window font.
        QFont small = tb->font();
        small.setPointSizeF(7);
        tb->setFont(small);
        tb->setFocusPolicy(Qt::NoFocus);
        toolGroup_->addButton(tb);
        TbGlavni_->addWidget(tb);
        *b.slot = tb;
        connect(tb, &QToolButton::clicked, this, b.click);
    }
}

void TGlavnaFisk::buildSetupPage(QWidget* page) {
    auto* v = new QVBoxLayout(page);
    auto* top = new QHBoxLayout();
    auto* save = new QPushButton("Sačuvaj", page);
    save->setObjectName("BtSacuvaj");
    auto* cancel = new QPushButton("Odustani", page);
    cancel->setObjectName("BtOdustani");
    // The buttons act on the dataset of the control that has the focus, so they
    // must not take it themselves.
    save->setFocusPolicy(Qt::NoFocus);
    cancel->setFocusPolicy(Qt::NoFocus);
    auto focusedDataset = [this]() -> kv::EditableDataset* {
        kv::EditableDataset* ds = RecordBinder::DatasetOf(QApplication::focusWidget());
        return ds ? ds : &ctx_.settings.Bafer;
    };
    connect(save, &QPushButton::clicked, this, [focusedDataset] {
        if (auto* ds = focusedDataset(); ds->isEditing()) ds->post();
    });
    connect(cancel, &QPushButton::clicked, this, [focusedDataset] { focusedDataset()->cancel(); });
    auto* timer = new QGroupBox("Start/Stop", page);
    timer->setObjectName("RGTimer");
    RGTimer_ = RadioGroup(timer, InOrder({"Start", "Stop"}), {.columns = 2});
    RGTimer_->setObjectName("RGTimerGroup");
    top->addWidget(save);
    top->addWidget(cancel);
    top->addWidget(timer);
    top->addStretch();
    v->addLayout(top);

    PgCtrSetup_ = new QTabWidget(page);
    PgCtrSetup_->setObjectName("PgCtrSetup");
    v->addWidget(PgCtrSetup_);
    buildDevicePage(addPage(PgCtrSetup_, "TabSheet6", "Fiskalni uređaj"));
    buildDataPage(addPage(PgCtrSetup_, "TabSheet8", "Podaci"));
    buildPrinterPage(addPage(PgCtrSetup_, "TabSheet9", "Printer"));
    buildPrintTools(addPage(PgCtrSetup_, "TabSheet2", "Print tools"));
    PgCtrSetup_->setTabVisible(3, false);
}

void TGlavnaFisk::buildDevicePage(QWidget* page) {
    auto* outer = new QHBoxLayout(page);
    auto* box = new QGroupBox("Fiskalni uređaj", page);
    box->setObjectName("GBUredjaj");
    auto* form = new QFormLayout(box);
    struct F {
        const char* name;
        const char* caption;
        const char* field;
    } fields[] = {{"DBBaseURL", "IP Adresa / URL", "BaseURL"},
                  {"DBPort", "Port", "Port"},
                  {"DBToken", "Token / API KEY", "Token"},
                  {"DBPIN", "PIN", "PIN"}};
    for (const auto& fd : fields) {
        auto* e = Edit(box, fd.name);
        form->addRow(fd.caption, e);
        bafer_->bindLineEdit(e, fd.field);
    }
    auto* old = new QCheckBox("Konverzija starih načina plaćanja", box);
    old->setObjectName("DBOldNacPl");
    bafer_->bindCheckBox(old, "OldNacPl");
    auto* gtin = new QCheckBox("Print gtin", box);
    gtin->setObjectName("DBPrintGtin");
    bafer_->bindCheckBox(gtin, "PrintGtin");
    form->addRow(old);
    form->addRow(gtin);
    // Test switches: not stored, off at every start.
    CBTest_ = new QCheckBox("Test sa PURS LPFR", box);
    CBTest_->setObjectName("CBTest");
    CBVLPFR_ = new QCheckBox("Test sa VLPFR", box);
    CBVLPFR_->setObjectName("CBVLPFR");
    form->addRow(CBTest_);
    form->addRow(CBVLPFR_);
    form->addRow(new TScanIP(ctx_, box));
    box->setMaximumWidth(420);
    outer->addWidget(box, 0, Qt::AlignTop);
    auto* logs = new QWidget(page);
    logs->setObjectName("PanelLog");
    buildDeviceLogs(logs);
    outer->addWidget(logs, 1);
}

void TGlavnaFisk::buildDataPage(QWidget* page) {
    auto* outer = new QVBoxLayout(page);
    auto* box = new QGroupBox("Podaci", page);
    auto* grid = new QGridLayout(box);
    struct F {
        const char* name;
        const char* caption;
        const char* field;
        const char* chooser;
    } fields[] = {{"DBInputFolder", "InputFolder", "InputFolder", "Button6"},
                  {"DBOutputFolder", "OutputFolder", "OutputFolder", "Button7"},
                  {"DBOutputFile", "OutputFile", "OutputFile", nullptr},
                  {"DBScanTime", "ScanTime", "ScanTime", nullptr}};
    int row = 0;
    for (const auto& fd : fields) {
        grid->addWidget(new QLabel(fd.caption, box), row, 0);
        const PathEdit p = fd.chooser ? PathEditWithChooser(box, fd.name, fd.chooser) : PathEdit{Edit(box, fd.name)};
        bafer_->bindLineEdit(p.edit, fd.field);
        grid->addWidget(p.edit, row, 1);
        if (p.button) grid->addWidget(p.button, row, 2);
        ++row;
    }
    box->setMaximumWidth(720);
    outer->addWidget(box);
    buildQueue(page, outer);
}

void TGlavnaFisk::buildPrinterPage(QWidget* page) {
    auto* outer = new QHBoxLayout(page);
    auto* left = new QVBoxLayout();
    auto* who = new QGroupBox("Štampa računa", page);
    who->setObjectName("RGPrintUredjaj");
    auto* whoGroup = RadioGroup(who, InOrder({"0 - ne štampaj račun", "1 - štampa na uređaju", "2 - POS printer", "3 - A4 printer"}));
    bafer_->bindRadioGroup(whoGroup, "PrintUredjaj");
    left->addWidget(who);

    auto* tape = new QGroupBox("Širina trake", page);
    tape->setObjectName("RGPOS5880");
    bafer_->bindRadioGroup(RadioGroup(tape, InOrder({"58mm", "80mm"}), {.columns = 2}), "POS-58-80");
    left->addWidget(tape);

    auto* texts = new QGroupBox("Zaglavlje i podnožje", page);
    auto* tf = new QFormLayout(texts);
    auto imageRow = [&](const char* name, const char* caption, const char* field, const char* button) {
        auto* row = new QWidget(texts);
        auto* h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        const PathEdit p = PathEditWithChooser(row, name, button);
        bafer_->bindLineEdit(p.edit, field);
        h->addWidget(p.edit);
        h->addWidget(p.button);
        tf->addRow(caption, row);
    };
    imageRow("DBHeaderImage", "HeaderImage", "HeaderImage", "Button10");
    imageRow("DBFooterImage", "FooterImage", "FooterImage", "Button11");
    for (auto [name, caption, field] : {std::tuple{"DBHeaderText", "Header text", "HeaderText"},
                                        std::tuple{"DBFooterText", "Footer text", "FooterText"}}) {
        auto* m = new QPlainTextEdit(texts);
        m->setObjectName(name);
        m->setMaximumHeight(44);
        bafer_->bindPlainText(m, field);
        tf->addRow(caption, m);
    }
    left->addWidget(texts);
    buildPrintTests(page, left);
    outer->addLayout(left, 1);

    GBSetupPOS_ = new QGroupBox("Setup POS printera", page);
    GBSetupPOS_->setObjectName("GBSetupPOS");
    auto* pos = new QGridLayout(GBSetupPOS_);
    int r = 0;
    auto combo = [&](const char* name, const char* caption, const char* field) {
        auto* c = new QComboBox(GBSetupPOS_);
        c->setObjectName(name);
        c->setEditable(true);
        c->setMinimumWidth(220);
        bafer_->bindComboText(c, field);
        pos->addWidget(new QLabel(caption, GBSetupPOS_), r, 0);
        pos->addWidget(c, r++, 1, 1, 3);
        return c;
    };
    combo("CbPosPrinter", "POS / Termal printer", "PosPrinter");
    combo("CbA4Printer", "A4 printer", "A4Printer");

    auto* render = new QGroupBox("Način štampe na POS", GBSetupPOS_);
    render->setObjectName("RGRenderPrint");
    bafer_->bindRadioGroup(RadioGroup(render, InOrder({"Tekst (ESC)", "Slika (PNG)", "Report"}), {.columns = 3}), "RenderPrint");
    pos->addWidget(render, r++, 0, 1, 4);

    auto* conv = new QGroupBox("Konverzija teksta", GBSetupPOS_);
    conv->setObjectName("RGEscCir");
    bafer_->bindRadioGroup(RadioGroup(conv, InOrder({"Bez konverzije", "CP852", "CP855", "YUSCII", "ASCII"}), {.columns = 5}),
                           "EscCir");
    conversionGroup_ = conv;
    pos->addWidget(conv, r++, 0, 1, 4);
    auto* qr = new QGroupBox("Štampa QR koda", GBSetupPOS_);
    qr->setObjectName("RGEscLat");
    bafer_->bindRadioGroup(RadioGroup(qr, InOrder({"Bez QR coda", "Esc/POS", "Image"}), {.columns = 3}), "EscLat");
    qrGroup_ = qr;
    pos->addWidget(qr, r++, 0, 1, 4);

    auto numbers = [&](std::initializer_list<std::tuple<const char*, const char*, const char*>> items) {
        int c = 0;
        QWidget* last = nullptr;
        for (auto [name, caption, field] : items) {
            auto* cell = new QWidget(GBSetupPOS_);
            auto* h = new QHBoxLayout(cell);
            h->setContentsMargins(0, 0, 0, 0);
            h->addWidget(new QLabel(caption, cell));
            auto* e = Edit(cell, name);
            e->setMaximumWidth(80);
            bafer_->bindLineEdit(e, field);
            h->addWidget(e);
            pos->addWidget(cell, r, c++);
            last = cell;
        }
        ++r;
        return last;
    };
    numbers({{"DBPaperWidth", "Širina mm", "PaperWidth"},
             {"DBPaperLength", "Dužina mm", "PaperLength"},
             {"DBLeftMargin", "L. margin", "LeftMargin"}});
    imageWidth_ = numbers({{"DBImageWidth", "Širina slike", "ImageWidth"}});

    fontBox_ = new QWidget(GBSetupPOS_);
    {
        auto* h = new QHBoxLayout(fontBox_);
        h->setContentsMargins(0, 0, 0, 0);
        h->addWidget(new QLabel("Font naziv i veličina", fontBox_));
        auto* name = new QComboBox(fontBox_);
        name->setObjectName("FontName");
        name->setEditable(true);
        name->setMinimumWidth(180);
        bafer_->bindComboText(name, "FontName");
        auto* size = Edit(fontBox_, "DBFontSize");
        size->setMaximumWidth(50);
        bafer_->bindLineEdit(size, "FontSize");
        h->addWidget(name);
        h->addWidget(size);
        h->addStretch();
    }
    pos->addWidget(fontBox_, r++, 0, 1, 4);
    numbers({{"DBEscInit", "EscInit", "EscInit"}, {"DBEscCut", "EscCut", "EscCut"}});
    numbers({{"DBEscFF", "EscFF", "EscFF"}, {"DBEscLF", "EscLF", "EscLF"}, {"DBEscCR", "EscCR", "EscCR"}});
    pos->setRowStretch(r, 1);
    outer->addWidget(GBSetupPOS_, 1);

    connect(bafer_, &RecordBinder::fieldChanged, this, [this](const QString& f) {
        // A cancelled edit ("Odustani", Esc) changes the whole record back.
        if (f == "PrintUredjaj" || f.isEmpty()) PrintUredjajChange();
        if (f == "RenderPrint" || f.isEmpty()) RenderPrintChange();
    });
}

void TGlavnaFisk::PrintUredjajChange() {
    auto v = PrinterPageVisibilityFor(ctx_.settings.Bafer.integer("PrintUredjaj"),
                                          ctx_.settings.Bafer.integer("RenderPrint"));
    GBSetupPOS_->setVisible(v.posSetup);
}

void TGlavnaFisk::RenderPrintChange() {
    auto v = PrinterPageVisibilityFor(ctx_.settings.Bafer.integer("PrintUredjaj"),
                                          ctx_.settings.Bafer.integer("RenderPrint"));
    conversionGroup_->setVisible(v.conversion);
    qrGroup_->setVisible(v.conversion);
    imageWidth_->setVisible(v.conversion);
    fontBox_->setVisible(v.font);
}

void TGlavnaFisk::buildKasaPage(QWidget* page) {
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(0, 0, 0, 0);
    PgCtrKasa_ = new QTabWidget(page);
    PgCtrKasa_->setObjectName("PgCtrKasa");
    v->addWidget(PgCtrKasa_);
    TabRacuni_ = addPage(PgCtrKasa_, "TabRacuni", "Računi");
    TabUlazi_ = addPage(PgCtrKasa_, "TabUlazi", "Ulazi");
    TabSifarnici_ = addPage(PgCtrKasa_, "TabSifarnici", "Šifarnici");
    TabParametriKase_ = addPage(PgCtrKasa_, "TabParametriKase", "Parametri");
    QWidget* pregledi = addPage(PgCtrKasa_, "KasaPregled", "Pregledi");
    TabImport_ = addPage(PgCtrKasa_, "TabImport", "Import");
    addPage(PgCtrKasa_, "TabServer", "Server");

    auto* sv = new QVBoxLayout(TabSifarnici_);
    PgCtrSifarnici_ = new QTabWidget(TabSifarnici_);
    PgCtrSifarnici_->setObjectName("PgCtrSifarnici");
    sv->addWidget(PgCtrSifarnici_);
    TabArtikli_ = addPage(PgCtrSifarnici_, "TabArtikli", "Artikli");
    addPage(PgCtrSifarnici_, "TabGrupe", "Grupe");
    addPage(PgCtrSifarnici_, "TabRadnici", "Radnici");
    addPage(PgCtrSifarnici_, "TabTarife", "Tarife");
    addPage(PgCtrSifarnici_, "TabPaymentType", "Način plaćanja");
    addPage(PgCtrSifarnici_, "TabPartner", "Partneri");
    addPage(PgCtrSifarnici_, "TabKartice", "Rabati");

    connect(PgCtrKasa_, &QTabWidget::currentChanged, this, [this](int) {
        if (PgCtrKasa_->currentWidget() == TabSifarnici_) TabSifarniciShow();
    });
    buildInvoicePage(TabRacuni_);
    buildParametersPage(TabParametriKase_);
    buildGoodsPages(TabUlazi_, pregledi);
    new TSifarnici(ctx_, PgCtrSifarnici_, this);
}

void TGlavnaFisk::buildInvoicePage(QWidget* page) {
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(0, 0, 0, 0);
    // Scrolled rather than widening the window when a large font or zoom
    // makes the page wider than the screen.
    auto* scroll = new QScrollArea(page);
    scroll->setObjectName("ScrollRacuni");
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    racuni_ = new TRacuni(ctx_, *kasaBaf_, scroll);
    scroll->setWidget(racuni_);
    v->addWidget(scroll);
    DatumRada_ = racuni_->DatumRada;
    DBKasir_ = racuni_->DBKasir;
    searchPanel_ = racuni_->searchPanel;
    LEBarkod_ = racuni_->LEBarkod;
    LESifra_ = racuni_->LESifra;
    LENaziv_ = racuni_->LENaziv;
    LEOpis_ = racuni_->LEOpis;
    LblOpis_ = racuni_->LblOpis;
    DBOpis_ = racuni_->DBOpis;
    DBCijena_ = racuni_->DBCijena;
    DBZaliha_ = racuni_->DBZalihe;
    LblNaStanju_ = racuni_->LblNaStanju;
    connect(racuni_->findChild<QToolButton*>("SBKasir"), &QToolButton::clicked, this, &TGlavnaFisk::SBKasirClick);
}

void TGlavnaFisk::SBKasirClick() {
    if (kv::reg::SBKasirAction(ctx_.settings.KasaBaf) == kv::reg::KasirAction::ShowLogin)
        ShowLogin(ctx_, this);
    else
        DBKasir_->setFocus();
}

void TGlavnaFisk::buildParametersPage(QWidget* page) {
    auto* outer = new QHBoxLayout(page);
    auto* box = new QGroupBox("Parametri kase", page);
    auto* form = new QFormLayout(box);
    auto line = [&](const char* name, const char* caption, const char* field) {
        auto* e = Edit(box, name);
        e->setMaximumWidth(200);
        e->setAccessibleName(caption);
        kasaBaf_->bindLineEdit(e, field);
        return e;
    };
    auto check = [&](const char* name, const char* caption, const char* field) {
        auto* c = new QCheckBox(caption, box);
        c->setObjectName(name);
        kasaBaf_->bindCheckBox(c, field);
        form->addRow(c);
        return c;
    };
    form->addRow("Način plaćanja", line("DBNacPl", "Način plaćanja", "NacPl"));
    // A value with a "Test" button that applies it to the window at once.
    auto testRow = [&](const char* name, const char* caption, const char* field, const char* button,
                       void (TGlavnaFisk::*apply)()) {
        auto* row = new QWidget(box);
        auto* h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        h->addWidget(line(name, caption, field));
        auto* test = new QPushButton("Test", row);
        test->setObjectName(button);
        connect(test, &QPushButton::clicked, this, apply);
        h->addWidget(test);
        form->addRow(caption, row);
    };
    testRow("DBKasaFontSize", "FontSize", "FontSize", "Button1", &TGlavnaFisk::Button1Click);
    check("DBAutoStart", "Pokreni kasu kod start-a", "AutoStart");
    check("DBBarkod", "Unos barkoda", "Barkod");
    check("DBSifra", "Unos šifre", "Sifra");
    check("DBNaziv", "Pretraga po nazivu", "Naziv");
    check("DBFilterNaziv", "Pretraga filter po nazivu i šifri", "FilterNaziv");
    auto* stock = new QGroupBox("Zalihe", box);
    stock->setObjectName("RGZalihe");
    kasaBaf_->bindRadioGroup(RadioGroup(stock, InOrder({"Nema kontrole", "Informativno", "Kontrola zaliha"}), {.columns = 3}),
                             "Zalihe");
    form->addRow(stock);
    testRow("DBZoom", "Zoom", "Zoom", "Button4", &TGlavnaFisk::Button4Click);
    CbServer_ = check("DBServer", "Veza sa serverom", "Server");
    form->addRow("Adresa servera", line("DBServerAdress", "Adresa servera", "ServerAdress"));
    form->addRow("Skladište šifra na serveru", line("DBSkladiste", "Skladište šifra na serveru", "Skladiste"));
    form->addRow("Kasa šifra na serveru", line("DBKasaSifra", "Kasa šifra na serveru", "KasaSifra"));
    check("DBLoginUser", "Obavezan login", "LoginUser");

    auto* buttons = new QHBoxLayout();
    auto* save = new QPushButton("Sačuvaj", box);
    save->setObjectName("BtSacuvajKasa");
    auto* cancel = new QPushButton("Odustani", box);
    cancel->setObjectName("BtOdustaniKasa");
    connect(save, &QPushButton::clicked, this, [this] {
        if (ctx_.settings.KasaBaf.isEditing()) ctx_.settings.KasaBaf.post();
    });
    connect(cancel, &QPushButton::clicked, this, [this] { ctx_.settings.KasaBaf.cancel(); });
    buttons->addWidget(save);
    buttons->addWidget(cancel);
    buttons->addStretch();
    form->addRow(buttons);
    box->setMaximumWidth(560);
    outer->addWidget(box, 0, Qt::AlignTop);
    outer->addStretch();
}

void TGlavnaFisk::StartUp() {
    auto& s = ctx_.settings;
    kv::AppContext::Run(ctx_.hooks.fillImportDrivers);

    // Step 12: the records, filled and posted (this writes both sections back).
    s.FillRecords({});
    bafer_->refresh();
    kasaBaf_->refresh();
    PrintUredjajChange();
    RenderPrintChange();

    // Step 13: cashier. The box lists the register's cashiers; picking one
    // makes it the current cashier at once.
    if (auto* db = ctx_.db())
        for (const auto& r : db->Radnik()) DBKasir_->addItem(Q(r.text("Username")));
    DBKasir_->setCurrentIndex(-1);
    kasaBaf_->bindComboText(DBKasir_, "Cashier");
    connect(DBKasir_, &QComboBox::activated, this, [this](int) {
        if (ctx_.settings.KasaBaf.isEditing()) ctx_.settings.KasaBaf.post();
    });
    if (s.KasaBaf.integer("LoginUser") == 1)
        DBKasir_->setEnabled(false);
    else
        kv::AppContext::Run(ctx_.hooks.loadCashier);

    if (auto* sifarnici = findChild<TSifarnici*>()) sifarnici->StartUp();
    // Step 14: server mode owns the code lists.
    if (s.KasaBaf.integer("Server") == 1) {
        for (QWidget* p : {TabImport_, TabUlazi_, TabParametriKase_})
            PgCtrKasa_->setTabVisible(PgCtrKasa_->indexOf(p), false);
        for (QLineEdit* e : {DBCijena_, DBOpis_}) {
            e->setReadOnly(true);
            e->setBackgroundRole(QPalette::Button);
            e->setAutoFillBackground(true);
        }
        CbServer_->hide();
    }

    // Step 15: zoom.
    if (int64_t zoom = s.KasaBaf.integer("Zoom"); zoom != 0) ScaleBy(static_cast<int>(zoom) + 100);

    // Step 17: stock display.
    bool stock = s.KasaBaf.integer("Zalihe") != 0;
    LblNaStanju_->setVisible(stock);
    DBZaliha_->setVisible(stock);

    // Step 18: search edits and the window font.
    applyFontSize();
    layOutSearchEdits();
    racuni_->StartUp();

    // Steps 19 to 21.
    kv::AppContext::Run(ctx_.hooks.inputWatcherStartup);
    kv::AppContext::Run(ctx_.hooks.restoreSavedInvoice);
    kv::AppContext::Run(ctx_.hooks.fillPrinterLists);

    // Step 16: start page. The cash register starts in view; the service
    // starts minimised to the notification area.
    if (s.KasaBaf.integer("AutoStart") == 1) {
        TbKasaClick();
        show();
    } else {
        TbSetupClick();
        showMinimized();
        ApplicationEvents1Minimize();
    }
}

void TGlavnaFisk::layOutSearchEdits() {
    auto& k = ctx_.settings.KasaBaf;
    bool b = k.integer("Barkod") == 1, s = k.integer("Sifra") == 1, n = k.integer("Naziv") == 1,
         o = k.integer("FilterNaziv") == 1;
    LEBarkod_->setVisible(b);
    LESifra_->setVisible(s);
    LENaziv_->setVisible(n);
    LEOpis_->setVisible(o);
    auto l = LayOutSearchEdits(b, LEBarkod_->width(), s, LESifra_->width(), n, LENaziv_->width(), o,
                                   LEOpis_->width(), !DBOpis_->isHidden());
    if (b) LEBarkod_->move(4, LEBarkod_->y());
    if (l.sifra >= 0) LESifra_->move(l.sifra, LESifra_->y());
    if (l.naziv >= 0) LENaziv_->move(l.naziv, LENaziv_->y());
    if (l.opis >= 0) LEOpis_->move(l.opis, LEOpis_->y());
    if (l.dbOpis >= 0) {
        int labelW = LblOpis_->sizeHint().width();
        LblOpis_->setGeometry(l.dbOpis, 2, labelW, 22);
        DBOpis_->move(l.dbOpis + labelW + 2, DBOpis_->y());
    }
}

void TGlavnaFisk::applyFontSize() {
    int64_t size = ctx_.settings.KasaBaf.integer("FontSize");
    if (size <= 0) return;
    baseFontPt_ = static_cast<double>(size);
    QFont f = font();
    f.setPointSizeF(baseFontPt_ * scalePercent_ / 100.0);
    setFont(f);
}

void TGlavnaFisk::ScaleBy(int percent) {
    if (percent <= 0) return;
    scalePercent_ = percent;
    resize(baseSize_ * percent / 100);
    QFont f = font();
    f.setPointSizeF(baseFontPt_ * percent / 100.0);
    setFont(f);
}

void TGlavnaFisk::Button1Click() { applyFontSize(); }

void TGlavnaFisk::Button4Click() { ScaleBy(static_cast<int>(ctx_.settings.KasaBaf.integer("Zoom")) + 100); }

// ---------------------------------------------------------------- navigation

void TGlavnaFisk::showMainPage(QWidget* page, QToolButton* button) {
    button->setChecked(true);
    PgCtrGlavni_->setCurrentWidget(page);
}

void TGlavnaFisk::TbSetupClick() { showMainPage(TabSetup_, TbSetup_); }
void TGlavnaFisk::TbPoslanoClick() { showMainPage(TabRacun_, TbPoslano_); }
void TGlavnaFisk::ToolButton4Click() { showMainPage(TabReport_, ToolButton4_); }
void TGlavnaFisk::ToolButton6Click() { showMainPage(TabBlagajna_, ToolButton6_); }
void TGlavnaFisk::TbKasaClick() {
    showMainPage(TabKasa_, TbKasa_);
    TabKasaShow();
}

void TGlavnaFisk::TabKasaShow() {
    PgCtrKasa_->setCurrentWidget(TabRacuni_);
    // Focusing may fail while the window is hidden; that is fine.
    if (DatumRada_->isVisible()) DatumRada_->setFocus();
}

void TGlavnaFisk::TabSifarniciShow() { PgCtrSifarnici_->setCurrentWidget(TabArtikli_); }

// ---------------------------------------------------------------- notification area

bool TGlavnaFisk::trayAvailable() const {
    if (g_trayOverride >= 0) return g_trayOverride == 1;
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TGlavnaFisk::ApplicationEvents1Minimize() {
    if (!trayAvailable()) return;  // stays minimised on the task bar
    hiddenToTray_ = true;
    hide();
    setWindowState((windowState() & ~Qt::WindowActive) | Qt::WindowMinimized);
    TrayIcon1_->show();
    if (QSystemTrayIcon::supportsMessages()) TrayIcon1_->showMessage("Open", "Double click to open.");
}

void TGlavnaFisk::RestoreFromTray() {
    TrayIcon1_->hide();
    hiddenToTray_ = false;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    showNormal();
    raise();
    activateWindow();
}

void TGlavnaFisk::TrayIcon1DblClick() { RestoreFromTray(); }
void TGlavnaFisk::Open1Click() { RestoreFromTray(); }

void TGlavnaFisk::Exit1Click() {
    TrayIcon1_->hide();
    exiting_ = true;
    QCoreApplication::exit(0);
}

// ---------------------------------------------------------------- events

void TGlavnaFisk::closeEvent(QCloseEvent* e) {
    if (exiting_) {
        e->accept();
        return;
    }
    if (!ctx_.prompter.confirm(kv::texts::kEndOfWork, kv::MsgKind::Information)) {
        e->ignore();
        return;
    }
    // Unsaved edits of the device settings are written as they stand.
    ctx_.settings.WriteGlobal();
    TrayIcon1_->hide();
    e->accept();
    QCoreApplication::quit();
}

void TGlavnaFisk::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange && isMinimized() && !hiddenToTray_ && isVisible()) {
        // Hide after the state change has been processed.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && !hiddenToTray_) ApplicationEvents1Minimize();
        });
    }
}

bool TGlavnaFisk::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate && firstActivity_ && ctx_.settings.KasaBaf.integer("Server") == 1) {
        firstActivity_ = false;
        kv::AppContext::Run(ctx_.hooks.serverDownload);
    }
    return QMainWindow::event(e);
}

bool TGlavnaFisk::eventFilter(QObject* obj, QEvent* e) {
    if (obj == FontName_ && e->type() == QEvent::FocusIn) fillFontList();  // FontNameEnter
    if (e->type() != QEvent::KeyPress) return false;
    auto* key = static_cast<QKeyEvent*>(e);
    if (obj == MemoJSON_ && key->key() == Qt::Key_F2) {
        BtDataClick();  // a pasted answer into the print carriers
        return true;
    }
    // A key event travels up the parent chain; act on it once, where it starts.
    QWidget* target = QApplication::focusWidget();
    if (target ? obj != target : obj != QApplication::activeWindow()) return false;
    if (key->key() == Qt::Key_Escape) ApplicationEvents1Message(key);
    auto* w = qobject_cast<QWidget*>(obj);
    if (w && w->window() == this) return FormKeyDown(key);
    return false;
}

void TGlavnaFisk::ApplicationEvents1Message(QKeyEvent*) {
    // Esc in a message box belongs to the box alone.
    QWidget* active = QApplication::activeModalWidget();
    if (!active) active = QApplication::activeWindow();
    if (qobject_cast<QMessageBox*>(active)) return;
    if (kv::EditableDataset* ds = RecordBinder::DatasetOf(QApplication::focusWidget()); ds && ds->isEditing())
        ds->cancel();
}

bool TGlavnaFisk::FormKeyDown(QKeyEvent* e) {
    bool onRacuni = PgCtrGlavni_->currentWidget() == TabKasa_ && PgCtrKasa_->currentWidget() == TabRacuni_;
    bool pad = e->modifiers() & Qt::KeypadModifier;
    ShellKey k = ShellKey::Other;
    switch (e->key()) {
        case Qt::Key_Escape: k = ShellKey::Escape; break;
        case Qt::Key_F2: k = ShellKey::F2; break;
        case Qt::Key_F3: k = ShellKey::F3; break;
        case Qt::Key_F4: k = ShellKey::F4; break;
        case Qt::Key_F5: k = ShellKey::F5; break;
        case Qt::Key_F6: k = ShellKey::F6; break;
        case Qt::Key_F7: k = ShellKey::F7; break;
        case Qt::Key_F8: k = ShellKey::F8; break;
        case Qt::Key_F9: k = ShellKey::F9; break;
        case Qt::Key_F10: k = ShellKey::F10; break;
        case Qt::Key_F11: k = ShellKey::F11; break;
        case Qt::Key_Plus: k = pad ? ShellKey::PadPlus : k; break;
        case Qt::Key_Minus: k = pad ? ShellKey::PadMinus : k; break;
        case Qt::Key_Asterisk: k = pad ? ShellKey::PadMultiply : k; break;
        case Qt::Key_Slash: k = pad ? ShellKey::PadDivide : k; break;
        default: break;
    }
    KeyAction a = FormKeyDownAction(onRacuni, k, e->modifiers() & Qt::ShiftModifier);
    if (a.cancelLinesEdit) kv::AppContext::Run(ctx_.hooks.cancelLinesEdit);
    if (!a.button.empty()) {
        if (auto* b = findChild<QAbstractButton*>(Q(a.button))) b->click();
        return true;  // one key, one action
    }
    return false;
}

}  // namespace kv::gui
