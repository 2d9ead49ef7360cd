#include "Journal.h"

#include <algorithm>
#include <cmath>

namespace kv::sim {

namespace {

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Byte offset after the first n code points of s (or s.size()).
std::size_t prefixBytes(std::string_view s, std::size_t n) {
    std::size_t i = 0;
    while (i < s.size() && n > 0) {
        ++i;
        while (i < s.size() && isContinuation(static_cast<unsigned char>(s[i]))) ++i;
        --n;
    }
    return i;
}

std::string spaces(std::size_t n) { return std::string(n, ' '); }

class Layout {
public:
    explicit Layout(std::size_t width) : w_(width) {}

    // Hard-wraps whatever is longer than the width, so no line ever is.
    void line(std::string_view s) {
        while (textWidth(s) > w_) {
            const std::size_t cut = prefixBytes(s, w_);
            lines_.emplace_back(s.substr(0, cut));
            s.remove_prefix(cut);
        }
        lines_.emplace_back(s);
    }
    void rule(char fill) { lines_.emplace_back(w_, fill); }
    void centered(std::string_view s) {
        const std::size_t len = textWidth(s);
        if (len >= w_) return line(s);
        line(spaces((w_ - len) / 2) + std::string(s));
    }
    // " TEXT " in the middle of a rule of fill characters.
    void banner(std::string_view s, char fill) {
        const std::string text = " " + std::string(s) + " ";
        const std::size_t len = textWidth(text);
        if (len >= w_) return line(s);
        const std::size_t left = (w_ - len) / 2;
        line(std::string(left, fill) + text + std::string(w_ - len - left, fill));
    }
    // Left text and right text on one line, right-aligned; on two when they
    // do not fit together.
    void pair(std::string_view left, std::string_view right) {
        const std::size_t l = textWidth(left), r = textWidth(right);
        if (l + 1 + r <= w_) {
            line(std::string(left) + spaces(w_ - l - r) + std::string(right));
        } else {
            line(left);
            line(r < w_ ? spaces(w_ - r) + std::string(right) : std::string(right));
        }
    }
    // Fields padded to column widths; negative width = left-aligned.
    void columns(std::initializer_list<std::pair<std::string, int>> cells) {
        std::string out;
        for (const auto& [text, width] : cells) {
            std::string cell = text;
            const std::size_t col = static_cast<std::size_t>(width < 0 ? -width : width);
            std::size_t len = textWidth(cell);
            if (width < 0 && len >= col && col > 0) {  // left column: keep one blank before the next
                cell = cell.substr(0, prefixBytes(cell, col - 1));
                len = textWidth(cell);
            }
            const std::string pad = len < col ? spaces(col - len) : std::string();
            out += width < 0 ? cell + pad : pad + cell;
        }
        line(out);
    }

    std::string text() const {
        std::string out;
        for (const auto& l : lines_) {
            out += l;
            out += "\r\n";
        }
        return out;
    }

private:
    std::size_t w_;
    std::vector<std::string> lines_;
};

std::string money(Raw v) { return formatDecimal(v, 2, 2, ','); }

}  // namespace

std::size_t textWidth(std::string_view utf8) {
    std::size_t n = 0;
    for (char c : utf8)
        if (!isContinuation(static_cast<unsigned char>(c))) ++n;
    return n;
}

std::vector<std::string> journalLines(std::string_view journal) {
    std::vector<std::string> out;
    while (!journal.empty()) {
        const std::size_t end = journal.find("\r\n");
        if (end == std::string_view::npos) {
            out.emplace_back(journal);
            break;
        }
        out.emplace_back(journal.substr(0, end));
        journal.remove_prefix(end + 2);
    }
    return out;
}

std::string receiptDateTime(std::string_view iso) {
    auto digits = [&](std::size_t pos, std::size_t n) {
        if (pos + n > iso.size()) return false;
        for (std::size_t i = pos; i < pos + n; ++i)
            if (iso[i] < '0' || iso[i] > '9') return false;
        return true;
    };
    if (!(digits(0, 4) && digits(5, 2) && digits(8, 2) && digits(11, 2) && digits(14, 2) && digits(17, 2)))
        return std::string(iso);
    std::string out;
    out.append(iso.substr(8, 2)).append(".").append(iso.substr(5, 2)).append(".").append(iso.substr(0, 4));
    out.append(". ").append(iso.substr(11, 8));
    return out;
}

std::string layoutJournal(const SimInvoice& inv, const ShopIdentity& shop, int width) {
    // Narrower than 32 columns the item and tax columns no longer fit.
    const int wi = std::clamp(width, 32, 80);
    const std::size_t w = static_cast<std::size_t>(wi);
    Layout j(w);
    const bool fiscal = inv.invoiceType == 0 || inv.invoiceType == 4;

    j.banner("ФИСКАЛНИ РАЧУН", '=');
    for (const std::string* s : {&shop.tin, &shop.businessName, &shop.locationName, &shop.address, &shop.district})
        if (!s->empty()) j.centered(*s);
    if (!inv.cashier.empty()) j.pair("Касир:", inv.cashier);
    if (!inv.buyerId.empty()) j.pair("ИБ купца:", inv.buyerId);
    if (!inv.buyerCostCenterId.empty()) j.pair("ОП купца:", inv.buyerCostCenterId);
    if (!inv.esirNumber.empty()) j.pair("ЕСИР број:", inv.esirNumber);
    if (!inv.dateAndTimeOfIssue.empty()) j.pair("ЕСИР вријеме:", receiptDateTime(inv.dateAndTimeOfIssue));
    if (!inv.referentDocumentNumber.empty()) j.pair("Реф. број:", inv.referentDocumentNumber);
    if (!inv.referentDocumentDT.empty()) j.pair("Реф. вријеме:", receiptDateTime(inv.referentDocumentDT));
    j.banner(invoiceTypeHeading(inv.invoiceType) + " " + transactionTypeHeading(inv.transactionType), '-');
    if (!fiscal) j.centered("ОВО НИЈЕ ФИСКАЛНИ РАЧУН");

    j.banner("Артикли", '=');
    const int priceCol = wi - 24, qtyCol = 10, totalCol = 14;
    j.columns({{"Назив", -(priceCol - 6)}, {"Цијена", 6}, {"Кол.", qtyCol}, {"Укупно", totalCol}});
    for (const SimItem& item : inv.items) {
        j.line(item.name + " (" + item.label + ")");
        j.columns({{money(item.unitPrice), priceCol},
                   {formatDecimal(item.quantity, 0, 3, ','), qtyCol},
                   {money(item.totalAmount), totalCol}});
    }
    j.rule('-');
    j.pair("Укупан износ:", money(inv.totalAmount));
    Raw paid = 0;
    for (const SimPayment& p : inv.payments) {
        j.pair(paymentTypeName(p.paymentType) + ":", money(p.amount));
        paid += p.amount;
    }
    if (paid > inv.totalAmount) j.pair("Повраћај:", money(paid - inv.totalAmount));
    j.rule('=');

    const int labelCol = 8, rateCol = 9, taxCol = 10, nameCol = wi - labelCol - rateCol - taxCol;
    j.columns({{"Ознака", -labelCol}, {"Име", -nameCol}, {"Стопа", rateCol}, {"Порез", taxCol}});
    Raw taxTotal = 0;
    for (const TaxLine& t : inv.taxes) {
        const Raw rateRaw = std::llround(t.rate * 100) * 100;
        j.columns({{t.label, -labelCol},
                   {t.categoryName, -nameCol},
                   {formatDecimal(rateRaw, 2, 2, ',') + "%", rateCol},
                   {money(t.amount), taxCol}});
        taxTotal += t.amount;
    }
    j.rule('-');
    j.pair("Укупан износ пореза:", money(taxTotal));
    j.rule('=');
    j.pair("ПФР вријеме:", receiptDateTime(inv.sdcDateTime));
    j.pair("ПФР бр.рач:", inv.invoiceNumber);
    j.pair("Бројач рачуна:", inv.invoiceCounter);
    j.rule('=');
    if (!fiscal) j.centered("ОВО НИЈЕ ФИСКАЛНИ РАЧУН");
    j.banner("КРАЈ ФИСКАЛНОГ РАЧУНА", '=');
    return j.text();
}

}  // namespace kv::sim
