// The fiscal device road on the main window: the page "Zadnji račun", the
// logs and console of "Fiskalni uređaj" and the carriers of "Print tools".
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <ctime>

#include "app/AppContext.h"
#include "app/RecordBinder.h"
#include "app/uGlavnaFisk.h"
#include "device/DeviceWords.h"
#include "platform/Platform.h"
#include "print/uReceiptPrint.h"
#include "util/FormBuilders.h"
#include "util/MemTableModel.h"
#include "util/Prompter.h"
#include "util/uKvUtils.h"

namespace kv::gui {

namespace {
const char* kTableProperty = "kvTable";

QString Q(const std::string& s) { return QString::fromStdString(s); }

void MarkTable(QWidget* w, kv::MemTable& t) {
    w->setProperty(kTableProperty, QVariant::fromValue(reinterpret_cast<quintptr>(&t)));
}

kv::MemTable* TableOf(QWidget* w) {
    for (int depth = 0; w && depth < 3; w = w->parentWidget(), ++depth) {
        QVariant v = w->property(kTableProperty);
        if (v.isValid()) return reinterpret_cast<kv::MemTable*>(v.value<quintptr>());
    }
    return nullptr;
}

QPlainTextEdit* Memo(QWidget* parent, const char* name, bool readOnly = true) {
    auto* m = new QPlainTextEdit(parent);
    m->setObjectName(name);
    m->setReadOnly(readOnly);
    m->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont mono("DejaVu Sans Mono");
    mono.setStyleHint(QFont::Monospace);
    m->setFont(mono);
    return m;
}

QTableView* Grid(QWidget* parent, const char* name) {
    auto* g = new QTableView(parent);
    g->setObjectName(name);
    g->verticalHeader()->setDefaultSectionSize(20);
    g->verticalHeader()->hide();
    g->setSelectionBehavior(QAbstractItemView::SelectItems);
    g->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                       QAbstractItemView::AnyKeyPressed);
    return g;
}

// The device page's radio groups: the values the device knows, packed tight.
QButtonGroup* Radios(QGroupBox* box, const std::vector<RadioChoice>& choices, int columns) {
    return RadioGroup(box, choices, {.columns = columns, .margins = QMargins(6, 2, 6, 2)});
}
}  // namespace

void TGlavnaFisk::buildLastInvoicePage(QWidget* page) {
    auto& model = ctx_.invoice;
    invoiceBinder_ = new RecordBinder(model.Invoice, ctx_.prompter, this);
    paymentBinder_ = new RecordBinder(model.Payment, ctx_.prompter, this);

    auto* v = new QVBoxLayout(page);
    auto* bar = new QToolBar(page);
    bar->setObjectName("TbRacun");
    struct A {
        const char* name;
        const char* caption;
        QStyle::StandardPixmap icon;
        std::function<void(kv::MemTable&)> act;
    } actions[] = {
        {"AcInsert", "Dodaj", QStyle::SP_FileDialogNewFolder, [](kv::MemTable& t) { t.append(); }},
        {"AcPost", "Snimi", QStyle::SP_DialogApplyButton, [](kv::MemTable& t) { if (t.isEditing()) t.post(); }},
        {"AcCancel", "Odustani", QStyle::SP_DialogCancelButton, [](kv::MemTable& t) { t.cancel(); }},
        {"AcDelete", "Briši", QStyle::SP_TrashIcon, [](kv::MemTable& t) { if (!t.isEmpty() || t.isEditing()) t.deleteRecord(); }},
    };
    for (auto& a : actions) {
        QAction* act = bar->addAction(style()->standardIcon(a.icon), QString::fromUtf8(a.caption));
        act->setObjectName(a.name);
        auto fn = a.act;
        connect(act, &QAction::triggered, this, [this, fn] {
            // The dataset of the control that has the focus; the header by default.
            kv::MemTable* t = TableOf(QApplication::focusWidget());
            if (!t) t = &ctx_.invoice.Invoice;
            try {
                fn(*t);
            } catch (const std::exception& e) {
                ctx_.prompter.message(e.what(), kv::MsgKind::Error);
            }
        });
    }
    for (auto* b : bar->findChildren<QToolButton*>()) b->setFocusPolicy(Qt::NoFocus);
    v->addWidget(bar);

    auto* body = new QHBoxLayout();
    v->addLayout(body, 1);

    // Left: the header and the lines.
    auto* left = new QVBoxLayout();
    auto* head = new QGroupBox("Invoice", page);
    head->setObjectName("GBInvoice");
    MarkTable(head, model.Invoice);
    auto* form = new QGridLayout(head);
    form->setVerticalSpacing(2);
    // Two columns of label and edit; "Now" and "New ID" sit beside the field they fill.
    auto* leftForm = new QFormLayout();
    auto* rightForm = new QFormLayout();
    struct F {
        const char* field;
        const char* caption;
        bool right;
    } fields[] = {{"dateAndTimeOfIssue", "dateAndTimeOfIssue", false}, {"invoiceNumber", "invoiceNumber", true},
                  {"cashier", "cashier", false},                       {"buyerId", "buyerId", true},
                  {"buyerCostCenterId", "buyerCostCenterId", false},   {"RequestId", "RequestId", false},
                  {"referentDocumentNumber", "referentDocumentNumber", true},
                  {"referentDocumentDT", "referentDocumentDT", true}, {"PFRnumber", "PFR broj", false},
                  {"PFRvrijeme", "PFR vrijeme", true}};
    auto* now = new QPushButton("Now", head);
    now->setObjectName("Button3");
    connect(now, &QPushButton::clicked, this, &TGlavnaFisk::Button3Click);
    auto* newId = new QPushButton("New ID", head);
    newId->setObjectName("BtNewId");
    connect(newId, &QPushButton::clicked, this, &TGlavnaFisk::BtNewIdClick);
    for (auto* b : {now, newId}) b->setFocusPolicy(Qt::NoFocus);  // they act on the header being edited
    for (const auto& f : fields) {
        auto* e = new QLineEdit(head);
        e->setObjectName(QString("DB") + f.field);
        invoiceBinder_->bindLineEdit(e, f.field);
        QWidget* cell = e;
        QPushButton* beside = std::string(f.field) == "dateAndTimeOfIssue" ? now
                              : std::string(f.field) == "RequestId"       ? newId
                                                                          : nullptr;
        if (beside) {
            cell = new QWidget(head);
            auto* h = new QHBoxLayout(cell);
            h->setContentsMargins(0, 0, 0, 0);
            h->addWidget(e, 1);
            h->addWidget(beside);
        }
        (f.right ? rightForm : leftForm)->addRow(f.caption, cell);
    }
    form->addLayout(leftForm, 0, 0, 1, 4);
    form->addLayout(rightForm, 0, 4, 1, 2);
    form->setColumnStretch(0, 1);
    form->setColumnStretch(4, 1);

    auto* type = new QGroupBox("Invoice type", head);
    type->setObjectName("RGInvoiceType");
    invoiceBinder_->bindRadioGroup(Radios(type,
                                          {{0, "0 - Normal"}, {1, "1 - Proforma"}, {2, "2 - Copy"}, {3, "3 - Training"},
                                           {4, "4 - Advance"}, {8, "8 - Last"}, {9, "9 - Reprint"}},
                                          4),
                                   "invoiceType");
    form->addWidget(type, 1, 0, 1, 4);
    auto* trans = new QGroupBox("Transaction type", head);
    trans->setObjectName("RGTransactionType");
    invoiceBinder_->bindRadioGroup(Radios(trans, {{0, "0 - Normal"}, {1, "1 - Refund"}}, 1), "transactionType");
    form->addWidget(trans, 1, 4, 1, 2);
    for (const char* f : {"omitQRCodeGen", "omitTextualRepresentation"}) {
        auto* c = new QCheckBox(f, head);
        c->setObjectName(QString("DB") + f);
        invoiceBinder_->bindCheckBox(c, f);
        form->addWidget(c, 2, f[4] == 'Q' ? 0 : 4, 1, f[4] == 'Q' ? 4 : 2);
    }
    left->addWidget(head);

    DBGItems_ = Grid(page, "DBGItems");
    auto* items = new MemTableModel(model.Items, {"gtin", "name", "quantity", "labels", "unitPrice", "totalAmount"},
                                    &ctx_.prompter, this);
    items->attach(DBGItems_);
    InstallTitleSort(DBGItems_);
    MarkTable(DBGItems_, model.Items);
    DBGItems_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    left->addWidget(DBGItems_, 1);
    auto* total = new QHBoxLayout();
    total->addStretch();
    total->addWidget(new QLabel("Ukupno račun:", page));
    LblUkupnoRacun_ = new QLabel(page);
    LblUkupnoRacun_->setObjectName("LblUkupnoRacun");
    LblUkupnoRacun_->setMinimumWidth(90);
    LblUkupnoRacun_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    total->addWidget(LblUkupnoRacun_);
    left->addLayout(total);
    body->addLayout(left, 5);

    // Right: payments, the button, totals and the device's tax items.
    auto* right = new QVBoxLayout();
    DBGPayment_ = Grid(page, "DBGPayment");
    auto* pay = new MemTableModel(model.Payment, {"amount", "paymentType", "kOpis"}, &ctx_.prompter, this);
    pay->attach(DBGPayment_);
    MarkTable(DBGPayment_, model.Payment);
    DBGPayment_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    DBGPayment_->setMaximumHeight(120);
    right->addWidget(DBGPayment_);
    auto* ptype = new QGroupBox("Payment type", page);
    ptype->setObjectName("RGPaymentType");
    MarkTable(ptype, model.Payment);
    paymentBinder_->bindRadioGroup(Radios(ptype,
                                          {{0, "0 - Other"}, {1, "1 - Cash"}, {2, "2 - Card"}, {3, "3 - Check"},
                                           {4, "4 - Wire Transfer"}, {5, "5 - Voucher"}, {6, "6 - Mobile Money"}},
                                          2),
                                   "paymentType");
    right->addWidget(ptype);
    auto* fisk = new QPushButton("Fiskalizuj", page);
    fisk->setObjectName("BtFiskalizuj");
    fisk->setMinimumHeight(40);
    QFont big = fisk->font();
    big.setBold(true);
    fisk->setFont(big);
    connect(fisk, &QPushButton::clicked, this, &TGlavnaFisk::BtFiskalizujClick);
    right->addWidget(fisk);
    LblFiskGreska_ = new QLabel(page);
    LblFiskGreska_->setObjectName("LblFiskGreska");
    LblFiskGreska_->setStyleSheet("color: #b00020;");
    LblFiskGreska_->setWordWrap(true);
    right->addWidget(LblFiskGreska_);
    auto* totals = new QFormLayout();
    LblUkupnoPlaceno_ = new QLabel(page);
    LblUkupnoPlaceno_->setObjectName("LblUkupnoPlaceno");
    LblPovrat_ = new QLabel(page);
    LblPovrat_->setObjectName("LblPovrat");
    totals->addRow("Ukupno plaćeno:", LblUkupnoPlaceno_);
    totals->addRow("Povrat:", LblPovrat_);
    right->addLayout(totals);
    DBGTaxItems_ = Grid(page, "DBGTaxItems");
    auto* tax = new MemTableModel(model.TaxItems, {"label", "categoryName", "kRate", "kAmount"}, &ctx_.prompter, this);
    tax->attach(DBGTaxItems_);
    DBGTaxItems_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    MarkTable(DBGTaxItems_, model.TaxItems);
    DBGTaxItems_->horizontalHeader()->setStretchLastSection(true);
    right->addWidget(DBGTaxItems_, 1);
    auto* taxTotal = new QFormLayout();
    LblPorez_ = new QLabel(page);
    LblPorez_->setObjectName("LblPorez");
    taxTotal->addRow("Ukupno porez:", LblPorez_);
    right->addLayout(taxTotal);
    body->addLayout(right, 3);

    for (kv::MemTable* t : {&model.Items, &model.Payment, &model.TaxItems})
        t->addChangeListener([this](kv::MemTable&, kv::TableChange c) {
            if (c == kv::TableChange::Rows) showTotals();
        });
    showTotals();
}

void TGlavnaFisk::showTotals() {
    if (!LblUkupnoRacun_) return;
    char sep = kv::platform::DecimalSeparator();
    auto text = [sep](std::optional<kv::Currency> c) { return c ? Q(kv::FormatTotal(*c, sep)) : QString(); };
    LblUkupnoRacun_->setText(text(ctx_.invoice.ItemsTotal()));
    LblUkupnoPlaceno_->setText(text(ctx_.invoice.PaymentTotal()));
    LblPovrat_->setText(Q(kv::FormatTotal(ctx_.invoice.Povrat(), sep)));
    LblPorez_->setText(text(ctx_.invoice.TaxTotal()));
}

void TGlavnaFisk::buildDeviceLogs(QWidget* box) {
    auto* v = new QVBoxLayout(box);
    auto* logs = new QTabWidget(box);
    logs->setObjectName("PgCtrLog");
    v->addWidget(logs);

    auto* zahtjev = new QWidget(logs);
    zahtjev->setObjectName("TabZahtjev");
    logs->addTab(zahtjev, "Zahtjev");
    auto* zf = new QGridLayout(zahtjev);
    zf->addWidget(new QLabel("Komande", zahtjev), 0, 0);
    CBCommand_ = new QComboBox(zahtjev);
    CBCommand_->setObjectName("CBCommand");
    CBCommand_->addItem("");
    for (const auto& c : kv::device::DeviceClient::ConsoleCommands()) CBCommand_->addItem(Q(c));
    zf->addWidget(CBCommand_, 0, 1);
    auto* send = new QPushButton("Pošalji komandu", zahtjev);
    send->setObjectName("Button2");
    connect(send, &QPushButton::clicked, this, &TGlavnaFisk::Button2Click);
    zf->addWidget(send, 0, 2);
    zf->addWidget(new QLabel("URL zadnjeg zahtjeva", zahtjev), 1, 0);
    EdComm_ = new QLineEdit(zahtjev);
    EdComm_->setObjectName("EdComm");
    EdComm_->setReadOnly(true);
    zf->addWidget(EdComm_, 1, 1, 1, 2);
    zf->addWidget(new QLabel("Status zadnjeg zahtjeva", zahtjev), 2, 0, Qt::AlignTop);
    MemoStatus_ = Memo(zahtjev, "MemoStatus");
    MemoStatus_->setMaximumHeight(60);
    zf->addWidget(MemoStatus_, 2, 1, 1, 2);
    zf->setRowStretch(3, 1);
    zf->setColumnStretch(1, 1);

    MemoRequest_ = Memo(logs, "MemoRequest");
    logs->addTab(MemoRequest_, "Zahtjev JSON");
    MemoJSON_ = Memo(logs, "MemoJSON", false);
    MemoJSON_->setToolTip("F2 - test data");
    logs->addTab(MemoJSON_, "Log JSON");

    auto* table = new QWidget(logs);
    table->setObjectName("TabLogTabela");
    logs->addTab(table, "Log tabela");
    auto* tv = new QVBoxLayout(table);
    auto* tr = new QHBoxLayout();
    tr->addWidget(new QLabel("Root element", table));
    CBRootElement_ = new QComboBox(table);
    CBRootElement_->setObjectName("CBRootElement");
    CBRootElement_->setEditable(true);
    CBRootElement_->setMinimumWidth(200);
    tr->addWidget(CBRootElement_);
    auto* set = new QPushButton("Set Root element", table);
    set->setObjectName("SetRootElement");
    connect(set, &QPushButton::clicked, this, &TGlavnaFisk::SetRootElementClick);
    auto* back = new QPushButton("Back", table);
    back->setObjectName("BackRootElement");
    connect(back, &QPushButton::clicked, this, &TGlavnaFisk::BackRootElementClick);
    tr->addWidget(set);
    tr->addWidget(back);
    tr->addStretch();
    tv->addLayout(tr);
    DBGResponse_ = Grid(table, "DBGResponse");
    DBGResponse_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto* response = new MemTableModel(ctx_.client1().response().table(), {}, &ctx_.prompter, this);
    response->attach(DBGResponse_);
    InstallTitleSort(DBGResponse_);
    tv->addWidget(DBGResponse_, 1);

    MemoText_ = Memo(logs, "MemoText");
    logs->addTab(MemoText_, "Log text");
}

void TGlavnaFisk::buildPrintTools(QWidget* page) {
    auto* v = new QVBoxLayout(page);
    auto* bar = new QHBoxLayout();
    auto* data = new QPushButton("Data", page);
    data->setObjectName("BtData");
    connect(data, &QPushButton::clicked, this, &TGlavnaFisk::BtDataClick);
    bar->addWidget(data);
    bar->addStretch();
    v->addLayout(bar);
    auto* split = new QSplitter(Qt::Horizontal, page);
    MemoJournal_ = Memo(split, "MemoJournal");
    auto* rightSide = new QWidget(split);
    auto* rv = new QVBoxLayout(rightSide);
    rv->setContentsMargins(0, 0, 0, 0);
    rv->addWidget(new QLabel("URL", rightSide));
    MemoURL_ = Memo(rightSide, "MemoURL");
    MemoURL_->setMaximumHeight(60);
    MemoURL_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    rv->addWidget(MemoURL_);
    rv->addWidget(new QLabel("PNG (base64)", rightSide));
    MemoPng_ = Memo(rightSide, "MemoPng");
    MemoPng_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    rv->addWidget(MemoPng_, 1);
    // The decoded receipt picture, as it would print.
    auto* scroll = new QScrollArea(split);
    scroll->setObjectName("ScrollReceipt");
    scroll->setBackgroundRole(QPalette::Dark);
    ImgReceipt_ = new QLabel(scroll);
    ImgReceipt_->setObjectName("ImgReceipt");
    ImgReceipt_->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    scroll->setWidget(ImgReceipt_);
    scroll->setWidgetResizable(true);
    scroll->setMinimumWidth(320);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setStretchFactor(2, 3);
    v->addWidget(split, 1);
}

void TGlavnaFisk::wireDevice() {
    auto& fisk = ctx_.fisk();
    fisk.onBusy = [](bool busy) {
        if (busy)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    };
    auto previousStored = fisk.onAnswerStored;
    fisk.onAnswerStored = [this, previousStored] {
        showCarriers();
        if (previousStored) previousStored();
    };
    for (kv::device::DeviceClient* c : {&ctx_.client1(), &ctx_.client2()}) {
        // The request is shown before it goes out: one that gets no answer is still there to read.
        c->onBeforeSend = [this, c](const std::string& url) {
            EdComm_->setText(Q(url));
            MemoRequest_->setPlainText(Q(c->log().lastRequestBody));
        };
        c->onAfterExecute = [this](const kv::device::DeviceClient& client) { showDeviceLog(client); };
    }
    connect(CBTest_, &QCheckBox::clicked, this, &TGlavnaFisk::CBTestClick);
    connect(CBVLPFR_, &QCheckBox::clicked, this, &TGlavnaFisk::CBTestClick);
    ctx_.hooks.restoreSavedInvoice.push_back([this] {
        for (const auto& e : ctx_.invoice.Restore()) ctx_.prompter.message(e, kv::MsgKind::Error);
    });
}

void TGlavnaFisk::showDeviceLog(const kv::device::DeviceClient& client) {
    const auto& log = client.log();
    MemoJSON_->setPlainText(Q(log.jsonIndented));
    MemoText_->setPlainText(Q(log.rawText));
    QString status = Q(log.statusText) + "\n" + QString::number(log.statusCode);
    // A refusal in the device's own words, for whoever reads the log.
    if (std::string words = kv::device::DeviceRefusal(log.statusCode, log.rawText); !words.empty())
        status += "\n" + Q(words);
    MemoStatus_->setPlainText(status);
    MemoRequest_->setPlainText(Q(log.lastRequestBody));
    refreshRootList();
}

void TGlavnaFisk::refreshRootList() {
    CBRootElement_->clear();
    CBRootElement_->addItem("");
    for (const auto& c : ctx_.client1().response().columnNames()) CBRootElement_->addItem(Q(c));
    CBRootElement_->setEditText("");
    FitGridColumns(DBGResponse_);
}

void TGlavnaFisk::showCarriers() {
    auto& fisk = ctx_.fisk();
    MemoJournal_->setPlainText(Q(fisk.answer().journal));
    MemoURL_->setPlainText(Q(fisk.answer().verificationUrl));
    MemoPng_->setPlainText(Q(fisk.answer().receiptPngBase64));
    const QImage& picture = ReceiptPrinting(ctx_).picture;
    // A roll picture is tall and narrow: shown at most as wide as a receipt on screen.
    ImgReceipt_->setPixmap(picture.isNull() ? QPixmap()
                                            : QPixmap::fromImage(picture.width() > 300
                                                                     ? picture.scaledToWidth(300, Qt::SmoothTransformation)
                                                                     : picture));
}

void TGlavnaFisk::BtFiskalizujClick() {
    try {
        if (!ctx_.fisk().Fiscalize().started()) return;  // one run at a time
        LblFiskGreska_->setText(Q(kv::device::FailureWithDeviceWords(ctx_.fisk(), ctx_.client1())));
    } catch (const std::exception& e) {
        ctx_.prompter.message(e.what(), kv::MsgKind::Error);
    }
    showTotals();
}

void TGlavnaFisk::BtNewIdClick() { ctx_.invoice.NewId(); }

void TGlavnaFisk::Button3Click() { ctx_.invoice.Now(static_cast<long long>(std::time(nullptr))); }

void TGlavnaFisk::CBTestClick() {
    ctx_.testService = CBTest_->isChecked();
    ctx_.latinLabels = CBVLPFR_->isChecked();
    PgCtrSetup_->setTabVisible(3, ctx_.testService);
}

void TGlavnaFisk::Button2Click() {
    std::string command = CBCommand_->currentText().toStdString();
    if (command.empty()) return;
    if (command == "pin") ctx_.fisk().ForgetRefusedPin();  // the operator tries the PIN by hand
    QApplication::setOverrideCursor(Qt::WaitCursor);
    auto outcome = ctx_.client1().ConsoleCommand(command);
    QApplication::restoreOverrideCursor();
    if (!outcome.executed && !outcome.error.empty()) ctx_.prompter.message(outcome.error, kv::MsgKind::Error);
}

void TGlavnaFisk::SetRootElementClick() {
    ctx_.client1().response().descend(CBRootElement_->currentText().toStdString());
    refreshRootList();
}

void TGlavnaFisk::BackRootElementClick() {
    ctx_.client1().response().back();
    refreshRootList();
}

void TGlavnaFisk::BtDataClick() {
    ctx_.fisk().LoadAnswer(MemoJSON_->toPlainText().toStdString());
    showCarriers();
}

}  // namespace kv::gui
