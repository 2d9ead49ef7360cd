#include "register/Lookups.h"

#include <algorithm>

#include "register/InvoiceEntry.h"
#include "register/uDMGlavni.h"

namespace kv::reg {

std::vector<SpisakRow> SpisakRacuna(TDMGlavni& db, int godina) {
    std::vector<Record> docs = db.Racuni(godina);
    std::vector<Record> pay = db.NacPl();
    std::vector<SpisakRow> out;
    out.reserve(docs.size());
    for (auto it = docs.rbegin(); it != docs.rend(); ++it) {
        SpisakRow row{*it, db.ZbirRac(godina, kRacun, it->integer("Broj").value_or(0)).value_or(Currency()), {}};
        for (const auto& p : pay)
            if (p.text("Sifra") == it->text("NacinPL")) row.nacPlOpis = p.text("Opis");
        out.push_back(std::move(row));
    }
    return out;
}

bool LinkReferent(InvoiceEntry& entry, const Record& invoice) {
    if (!entry.header()) return false;
    // The referent fields stay free on a confirmed invoice.
    if (!entry.EditHeader(HeaderField::RefDN)) return false;
    if (!entry.SetHeader(HeaderField::RefDN, invoice.text("PFRBROJ")) ||
        !entry.SetHeader(HeaderField::RefDT, invoice.text("PFRTIME"))) {
        entry.CancelHeader();
        return false;
    }
    return entry.PostHeader();
}

bool LinkPartner(InvoiceEntry& entry, const Record& partner) {
    if (!entry.header()) return false;
    if (!entry.EditHeader(HeaderField::PartnerSifra)) return false;
    if (!entry.SetHeader(HeaderField::PartnerSifra, partner.text("PARTNERSIFRA")) ||
        !entry.SetHeader(HeaderField::Kupac, partner.text("PARTNERIJIB"))) {
        entry.CancelHeader();
        return false;
    }
    return entry.PostHeader();
}

bool PartnerMatches(const Record& partner, const std::string& filter) {
    return partner.text("PARTNERNAZIV").find(filter) != std::string::npos;
}

}  // namespace kv::reg
