#pragma once
// The two lookup windows of the invoice page: the invoice list (F11), which
// goes to an invoice or takes its fiscal number and time as the referent of
// the current one, and the partner window (F5), which puts a buyer on it.
#include <string>
#include <vector>

#include "register/Record.h"
#include "util/Currency.h"

namespace kv::reg {

class TDMGlavni;
class InvoiceEntry;

struct SpisakRow {
    Record header;
    Currency iznos;         // sum of the lines' amounts; 0 without lines
    std::string nacPlOpis;  // the payment type's description
};
// The invoices of `godina`, newest first.
std::vector<SpisakRow> SpisakRacuna(TDMGlavni& db, int godina);

// "F3 poveži" of the invoice list: RefDN and RefDT of the current invoice
// become the chosen invoice's PFRBROJ and PFRTIME (empty ones too), also on
// a confirmed invoice. False when there is no current invoice or the save
// was refused.
bool LinkReferent(InvoiceEntry& entry, const Record& invoice);

// "F3 poveži" of the partner window: the partner's code and its JIB as the
// buyer, also on a confirmed invoice.
bool LinkPartner(InvoiceEntry& entry, const Record& partner);

// The partner filter: the typed text as it is (quote, "%" and "_" are plain
// characters) inside the partner's name, upper and lower case told apart.
bool PartnerMatches(const Record& partner, const std::string& filter);

}  // namespace kv::reg
