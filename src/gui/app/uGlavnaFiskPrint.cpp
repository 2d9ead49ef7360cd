// Printing on the main window: the test buttons and print set-up of the
// "Printer" page, the printer and font lists, and the receipt printing that
// follows a successful fiscalisation.
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QPageSize>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/AppContext.h"
#include "app/uGlavnaFisk.h"
#include "print/ReceiptImage.h"
#include "print/uReceiptPrint.h"
#include "util/FormBuilders.h"
#include "util/Prompter.h"

namespace kv::gui {

void TGlavnaFisk::buildPrintTests(QWidget* page, QVBoxLayout* column) {
    auto* box = new QGroupBox("Test", page);
    box->setObjectName("GBPrintTest");
    auto* grid = new QGridLayout(box);
    struct B {
        const char* name;
        const char* caption;
        void (TGlavnaFisk::*click)();
    } buttons[] = {{"BtTestASCIIprint", "Test tekst print", &TGlavnaFisk::BtTestASCIIprintClick},
                   {"BtTestPNG", "Test PNG print", &TGlavnaFisk::BtTestPNGClick},
                   {"BtTestReport", "Test Report print", &TGlavnaFisk::BtTestReportClick},
                   {"BtReadData", "Read Data", &TGlavnaFisk::BtDataClick},
                   {"Button13", "Read print setup", &TGlavnaFisk::Button13Click}};
    int i = 0;
    for (const auto& b : buttons) {
        auto* button = new QPushButton(QString::fromUtf8(b.caption), box);
        button->setObjectName(b.name);
        connect(button, &QPushButton::clicked, this, b.click);
        grid->addWidget(button, i / 3, i % 3);
        ++i;
    }
    MemoPrintSetup_ = new QPlainTextEdit(box);
    MemoPrintSetup_->setObjectName("MemoPrintSetup");
    MemoPrintSetup_->setReadOnly(true);
    MemoPrintSetup_->setMaximumHeight(80);
    grid->addWidget(MemoPrintSetup_, 2, 0, 1, 3);
    column->addWidget(box);
    column->addStretch();
}

void TGlavnaFisk::wirePrinting() {
    InstallReceiptPrinting(ctx_, this);
    if (auto* b = findChild<QToolButton*>("Button10")) connect(b, &QToolButton::clicked, this, &TGlavnaFisk::Button10Click);
    if (auto* b = findChild<QToolButton*>("Button11")) connect(b, &QToolButton::clicked, this, &TGlavnaFisk::Button11Click);
    FontName_ = findChild<QComboBox*>("FontName");
    if (FontName_) FontName_->installEventFilter(this);
    ctx_.hooks.fillPrinterLists.push_back([this] { fillPrinterLists(); });
}

void TGlavnaFisk::releasePrinting() { ReleaseReceiptPrinting(ctx_); }

void TGlavnaFisk::fillPrinterLists() {
    QStringList names = QPrinterInfo::availablePrinterNames();
    for (const char* name : {"CbPosPrinter", "CbA4Printer"}) {
        auto* combo = findChild<QComboBox*>(name);
        if (!combo) continue;
        // The stored name stays, installed or not ("file:" and "socket://" targets too).
        QString current = combo->currentText();
        QSignalBlocker quiet(combo);
        combo->clear();
        combo->addItems(names);
        combo->setEditText(current);
    }
}

void TGlavnaFisk::fillFontList() {
    // Qt draws with the fonts the system offers, on screen and printer alike.
    QString current = FontName_->currentText();
    QSignalBlocker quiet(FontName_);
    FontName_->clear();
    FontName_->addItems(QFontDatabase::families());
    FontName_->setEditText(current);
}

void TGlavnaFisk::BtTestASCIIprintClick() {
    if (ctx_.fisk().onPrint) ctx_.fisk().onPrint(0);  // the held journal as a text receipt
}

void TGlavnaFisk::BtTestPNGClick() { PrintPNG(ctx_, false, this); }

void TGlavnaFisk::BtTestReportClick() { PrintQR(ctx_, false, this); }

void TGlavnaFisk::Button13Click() {
    MemoPrintSetup_->clear();
    QPrinter& printer = ReceiptPrinter(ctx_);
    SelectPrinter(printer, ctx_.settings.Bafer.text("PosPrinter"));
    SetReceiptPage(printer, ReceiptPageOf(ctx_));
    QRect page = printer.pageLayout().fullRectPixels(printer.resolution());
    QStringList lines;
    lines << QString("%1 %2 %3 %4")
                 .arg(printer.printerName().isEmpty() ? QString("(default)") : printer.printerName())
                 .arg(page.height())
                 .arg(page.width())
                 .arg(printer.logicalDpiY());
    QSizeF mm = printer.pageLayout().fullRect(QPageLayout::Millimeter).size();
    lines << QString("%1 %2").arg(qRound(mm.height())).arg(qRound(mm.width()));
    lines << printer.pageLayout().pageSize().name();
    lines << QString::number(printer.resolution());
    QPrinterInfo info = QPrinterInfo::printerInfo(printer.printerName());
    for (const QPageSize& form : info.supportedPageSizes()) {
        QSizeF size = form.size(QPageSize::Millimeter);
        lines << QString("Paper name: %1,   Paper size: %2mm x %3mm")
                     .arg(form.name())
                     .arg(static_cast<int>(size.width()))
                     .arg(static_cast<int>(size.height()));
    }
    MemoPrintSetup_->setPlainText(lines.join("\n"));
}

void TGlavnaFisk::Button10Click() { ChoosePathInto(this, PathKind::File, ctx_.settings.Bafer, "HeaderImage"); }

void TGlavnaFisk::Button11Click() { ChoosePathInto(this, PathKind::File, ctx_.settings.Bafer, "FooterImage"); }

}  // namespace kv::gui
