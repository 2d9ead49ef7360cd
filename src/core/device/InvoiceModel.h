#pragma once
// The fiscal invoice in memory: the header `Invoice`, the lines `Items`, the
// payments `Payment` and, once the device has answered, `TaxItems`. Every
// road to the device fills this model; the first three save themselves to
// "Invoice.cds", "Items.cds" and "Payment.cds" whenever their rows change.
#include <functional>
#include <string>
#include <vector>

#include "util/Currency.h"
#include "util/MemTable.h"

namespace kv::device {

// The values of `invoiceType` that decide what a run asks the device for.
enum class InvoiceType : int64_t {
    Normal = 0,
    Proforma = 1,
    Copy = 2,
    Training = 3,
    Advance = 4,
    Last = 8,         // the device's last invoice, answered under "invoiceResponse"
    ByRequestId = 9,  // an invoice the device signed earlier, by its request id
};

class InvoiceModel {
public:
    InvoiceModel();
    InvoiceModel(const InvoiceModel&) = delete;
    InvoiceModel& operator=(const InvoiceModel&) = delete;

    MemTable Invoice;
    MemTable Items;
    MemTable Payment;
    MemTable TaxItems;

    // Folder of the saved files; empty: the model is not saved.
    void setSaveFolder(std::string folder) { saveFolder_ = std::move(folder); }
    const std::string& saveFolder() const { return saveFolder_; }
    // Whether every saved file is forced to disk before it replaces the old
    // one (on by default: a hand-made invoice lives only in these files). Off
    // where every invoice comes from an input file that is kept until its
    // answer is on disk, so no saved copy is needed to recover it after a
    // power cut; the files are still replaced whole.
    void setDurableSaves(bool on) { durableSaves_ = on; }
    bool durableSaves() const { return durableSaves_; }
    std::string filePath(const char* name) const;
    // Reports a file that could not be written (the rows stay in memory).
    std::function<void(const std::string& message)> onSaveError;

    // Loads the saved files that exist. Returns one message per file that
    // could not be read; such a dataset keeps what it had.
    std::vector<std::string> Restore();

    // Aggregates: sums over all rows; nullopt when there are no rows.
    std::optional<Currency> ItemsTotal() const;
    std::optional<Currency> PaymentTotal() const;
    std::optional<Currency> TaxTotal() const;  // rows whose amount converts
    // Change to give back: payments minus items, 0 when either total is missing.
    Currency Povrat() const;

    // "New ID": a fresh braced GUID as RequestId, only while the header is edited.
    bool NewId();
    // "Now": the current time as "YYYY-MM-DDTHH:MM:SSZ" in UTC, only while
    // the header is edited. `nowUtcSeconds` is seconds since 1970 (tests pin it).
    bool Now(long long nowUtcSeconds);

    // Replaces TaxItems with the rows of an answer table positioned on the
    // tax items. Throws std::runtime_error naming a missing member.
    void FillTaxItems(const MemTable& answerRows);

    // Empties Invoice, Items, Payment and TaxItems (a producer's first step).
    void Clear();

    // While a Batch lives, changes are not saved one by one: every table that
    // would have been saved is saved once when the outermost Batch ends.
    // For producers that fill a whole invoice at once (one file write per
    // table instead of one per posted row).
    class Batch {
    public:
        explicit Batch(InvoiceModel& model);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        InvoiceModel& model_;
    };

private:
    void watch(MemTable& table, const char* file);
    void save(MemTable& table, const char* file);

    std::string saveFolder_;
    bool durableSaves_ = true;
    bool restoring_ = false;
    int batchDepth_ = 0;
    std::vector<std::pair<MemTable*, const char*>> pendingSaves_;  // in first-change order
};

// "2024-03-12T07:47:38..." read by position; nullopt when a part is not a
// number or the date is not valid. Fractions are ignored, and so are
// offsets ("+01:00": the device's local time); a time in UTC ("Z", as
// "Now" writes it) becomes the local time of this computer.
std::optional<DateTime> PositionalDateTime(const std::string& text);

// Cyrillic name of a payment type, empty for unknown types.
std::string PaymentTypeName(int64_t type);

// A tax amount as the device sent it ("9.9099", or "9,91" from older
// devices) read whatever the user's decimal separator is.
std::optional<Currency> TaxAmountValue(const std::string& text, char decimalSep);

}  // namespace kv::device
