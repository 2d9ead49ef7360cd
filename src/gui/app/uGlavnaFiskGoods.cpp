// The goods pages of the cash register: "Ulazi" (receipts) and "Pregledi"
// (overviews), both over the register's database. Without a database they
// stay empty; "Ulazi" is hidden in server mode by the start-up.
#include <QDate>
#include <QPointer>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/AppContext.h"
#include "app/uGlavnaFisk.h"
#include "register/uPregledi.h"
#include "register/uUlazi.h"

namespace kv::gui {

void TGlavnaFisk::buildGoodsPages(QWidget* ulaziPage, QWidget* preglediPage) {
    kv::reg::TDMGlavni* db = ctx_.db();
    if (!db) return;
    auto workDate = [this] {
        const auto ymd = ctx_.settings.KasaBaf.date("Datum");
        if (ymd.ok())
            return kv::DateTime::fromParts(static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                                           static_cast<unsigned>(ymd.day()));
        const QDate d = QDate::currentDate();
        return kv::DateTime::fromParts(d.year(), d.month(), d.day());
    };
    auto* ulazi = new TUlazi(*db, ctx_.prompter, workDate, ulaziPage);
    auto* lu = new QVBoxLayout(ulaziPage);
    lu->setContentsMargins(0, 0, 0, 0);
    lu->addWidget(ulazi);
    auto* pregledi = new TPregledi(*db, ctx_.prompter, preglediPage);
    auto* lp = new QVBoxLayout(preglediPage);
    lp->setContentsMargins(0, 0, 0, 0);
    lp->addWidget(pregledi);

    // The receipts follow the work year, and the page rereads them (and the
    // articles of its pickers) whenever it comes into view.
    // The settings outlive the window: the listener checks the page is still there.
    ctx_.settings.KasaBaf.addListener([page = QPointer<TUlazi>(ulazi)](const std::string& field) {
        if (page && field == "Godina") page->Reload();
    });
    connect(PgCtrKasa_, &QTabWidget::currentChanged, ulazi, [this, ulazi, ulaziPage](int) {
        if (PgCtrKasa_->currentWidget() == ulaziPage) ulazi->Reload();
    });
    ulazi->Reload();
}

}  // namespace kv::gui
