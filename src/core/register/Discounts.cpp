#include "register/Discounts.h"

#include <unordered_map>

#include "app/Settings.h"
#include "register/InvoiceEntry.h"
#include "register/Login.h"
#include "register/RegisterTexts.h"
#include "util/Prompter.h"

namespace kv::reg {

namespace {
std::optional<Record> Find(const std::vector<Record>& rabat, const char* tip, const std::string& sifra) {
    for (const auto& r : rabat)
        if (r.text("RABATTIP") == tip && r.text("RABATSIFRA") == sifra) return r;
    return std::nullopt;
}
}  // namespace

std::optional<DiscountHit> DiscountFor(const std::vector<Record>& rabat, const std::string& artikl,
                                       const std::string& grupa) {
    auto a = Find(rabat, "A", artikl);
    Currency p = a ? a->decimal("RABATPROC").value_or(Currency()) : Currency();
    if (p != Currency()) return DiscountHit{p, a->text("RABATKART")};
    auto g = Find(rabat, "G", grupa);
    if (!g) return std::nullopt;
    p = g->decimal("RABATPROC").value_or(Currency());
    if (p == Currency()) return std::nullopt;
    return DiscountHit{p, g->text("RABATKART")};
}

Currency DiscountedPrice(Currency price, Currency percent) {
    return RoundCurr(-2, price * (Currency(100) - percent) / 100);
}

bool InvoiceEntry::ApplyCard(const std::string& kart) {
    const Record* h = header();
    if (!h) return false;
    if (Confirmed()) {
        message(texts::kConfirmed);
        return false;
    }
    if (h->text("KarticaKupca").find_first_not_of(' ') != std::string::npos) {
        message(texts::kDiscountDone);
        return false;
    }
    if (!prompter_.confirm(texts::kAskDiscount, MsgKind::Information)) return false;
    if (!cashierOk()) return false;
    // A line half typed is not part of the invoice yet.
    CancelLine();
    CancelHeader();

    const std::vector<Record> rabat = db_.Rabat(kart);
    std::unordered_map<std::string, std::string> groupOf;
    for (const auto& a : db_.Artikl()) groupOf[a.text("Sifra")] = a.text("Grupa");

    // Every line worked out and checked first; then all of it in one
    // transaction, or nothing at all.
    std::vector<Record> changedLines;
    std::string card;
    for (const Record& l : lines_) {
        auto hit = DiscountFor(rabat, l.text("Artikl"), groupOf[l.text("Artikl")]);
        if (!hit) continue;
        if (hit->percent < Currency() || hit->percent > Currency(100)) {
            message(texts::kDiscountOutOfRange);
            return false;
        }
        Record n = l;
        n.set("Rabat", hit->percent);
        n.set("Cijena", DiscountedPrice(l.decimal("Cijena").value_or(Currency()), hit->percent));
        n.set("Iznos", LineAmount(*n.decimal("Cijena"), n.decimal("KolIzlaz").value_or(Currency())));
        Currency avail;
        if (stockMode() == 2) {
            // The line's own quantity is already counted in the stock.
            avail = db_.Zalihe(static_cast<int>(l.integer("DokuGodina").value_or(year())), l.text("Artikl"))
                        .value_or(Currency()) +
                    l.decimal("KolIzlaz").value_or(Currency());
        }
        switch (CheckLine(n, stockMode(), avail)) {
            case LineCheck::Ok: break;
            case LineCheck::NoAmount: beep(); message(texts::kNoAmount); return false;
            case LineCheck::QuantityTooBig: message(texts::kQuantityTooBig); return false;
            case LineCheck::PriceTooBig: message(texts::kPriceTooBig); return false;
            case LineCheck::NoStock: beep(); message(texts::kNoStock); return false;
        }
        card = hit->card;
        changedLines.push_back(std::move(n));
    }
    if (changedLines.empty()) return false;

    Record newHeader = *h;
    newHeader.set("KarticaKupca", card);
    newHeader.set("Cashier", kasaBaf_.text("Cashier"));
    newHeader.set("SysTime", nowLocal());
    try {
        db_.Baza().immediate([&] {
            db_.Save(newHeader);
            for (auto& n : changedLines) db_.Save(n);
        });
    } catch (const std::exception& e) {
        message(e.what());
        Reload();
        return false;
    }
    Reload();
    return true;
}

}  // namespace kv::reg
