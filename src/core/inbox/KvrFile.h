#pragma once
// Keyed invoice files (".kvr"): another program writes one fiscal invoice
// field by field, one "dataset#item#field#value" line each; Kovira loads it
// into the invoice model through the keyed table InputFile and answers with
// a small result file of the same name in the output folder.
#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "util/MemTable.h"

namespace kv::device {
class InvoiceModel;
}

namespace kv::inbox {

// A keyed file that cannot be loaded: a value that does not convert or a
// field name the target table does not have. The message names the line,
// the field and the value.
class KvrLoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A result file that could not be written; the message names its path.
class ResultWriteError : public std::runtime_error {
public:
    explicit ResultWriteError(const std::string& message, std::string path = {})
        : std::runtime_error(message), path_(std::move(path)) {}
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The four fields of one line: table, item number, field name, value. Only
// "#" separates and spaces belong to the field. A field that begins with a
// double quote runs to its closing quote, may contain "#", and loses the
// quotes ("" inside stands for one quote). A quote anywhere else is an
// ordinary character. A closing quote must end its field: text between it
// and the next "#", or a quote that is never closed, makes the line
// malformed. nullopt unless the line has exactly four fields.
std::optional<std::array<std::string, 4>> SplitKvrLine(std::string_view line);

// The keyed table: cdsName String 30, Rbr String 10, FieldName String 50,
// Vrijednost WideString 4000 (longer text is cut to these sizes).
std::vector<FieldDef> InputFileFields();
MemTable MakeInputFileTable();

// Loads a keyed file into `model`.
// The bytes are decoded from `codePage` and split into lines at LF (a CR
// before the LF, or at the very end, is not part of the line). Every line
// with four fields becomes a record of `inputFile` (opened if closed,
// emptied first), in file order; other lines are skipped without notice.
// Then the model is emptied and filled from those records:
// - Invoice: one record from the "Invoice" lines;
// - Items: one record per item number n = 1, 2, 3, ... up to the first
//   number that has no line (so always item 1, empty if the file has none;
//   items after a gap are not read). Rbr is compared as a number: "1",
//   "01" and " 1 " all mean item 1;
// - Payment: one record from all "Payment" lines.
// Lines are applied in file order, so a later line for the same field wins.
// Values convert by the target field: integers take decimal integer text,
// decimals take a number with `decimalSep` or the other separator (empty
// is 0), text is taken as it is, calculated and other fields are ignored.
// Table names are case-sensitive; lines naming another table are kept in
// `inputFile` only. The model saves each of its files once, at the end.
// Throws KvrLoadError at the first value that does not convert or field
// name that does not exist: the records posted until then stay, the record
// being filled is dropped, and the rest of the file is not read.
void LoadKvr(std::string_view fileBytes, MemTable& inputFile, device::InvoiceModel& model, char decimalSep,
             const std::string& codePage = platform::FileCodePage());

// The result file for the invoice in `model`, lines ending in CR LF.
// Success (`fiskGreska` empty): PFRnumber, PFRvrijeme and, when `puniOdgovor`,
// the verification URL, cashier, buyerId, the payment method of the last
// Payment record and the sum of all payments in `decimalSep` form; then the
// empty `fiskGreska`. Failure: two empty lines and the message. Control
// characters inside a value (CR, LF, NUL, ESC...) are written as blanks, so
// every value stays on its line and nothing but text reaches the producer.
std::string ResultFileText(const device::InvoiceModel& model, const std::string& fiskGreska, bool puniOdgovor,
                           const std::string& verificationUrl, char decimalSep);

// Latin name of a payment type in result files; empty for an unknown type.
std::string ResultPaymentName(std::optional<std::int64_t> paymentType);

// Writes `text` (UTF-8) in `codePage` as `outputFolder`/`fileName`, replacing
// a file of that name. The bytes go to a hidden temporary name in the same
// folder first (".<name>.<pid>.<n>.tmp", never ending in ".kvr") and are
// renamed into place once on disk, so a producer polling the folder sees the
// whole file or none. `fileName` must be a bare name. Throws
// ResultWriteError (and leaves no temporary file) when the folder is not
// set, missing or not writable, or anything else fails.
void WriteResultFile(const std::string& outputFolder, const std::string& fileName, const std::string& text,
                     const std::string& codePage = platform::FileCodePage());

}  // namespace kv::inbox
