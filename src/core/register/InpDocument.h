#pragma once
// ".inp" files as cash-register invoices: each file becomes a confirmed
// document of its own, written whole in one transaction, never joined to an
// invoice the cashier has open, and remembered with the file it came from.
#include <ctime>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "inbox/InpFile.h"
#include "inbox/InpRoad.h"
#include "register/Record.h"
#include "util/DateTime.h"

namespace kv {
class SettingsRecord;
namespace device {
class Fiscalizer;
class InvoiceModel;
class RequestLedger;
}  // namespace device
}  // namespace kv

namespace kv::reg {

class TDMGlavni;

// Hex SHA-256 of a file's bytes.
std::string ContentDigest(std::string_view bytes);

// Which file a document came from. The table "UlazFajl" is Kovira's own
// (created when missing); other programs sharing the file never read it.
struct InpSource {
    std::string folder, name, digest;
};
void EnsureInpTable(TDMGlavni& db);

// The document of a file still waiting in its folder (not retired yet).
std::optional<Record> FindInpDocument(TDMGlavni& db, const InpSource& src);

// What a new document from a file takes from the register.
struct InpDefaults {
    int year = 0;
    DateTime workDate;
    DateTime sysTime;
    std::string nacinPL;  // the register's default payment type
    std::string cashier;
    int stockMode = 0;    // the register's "Zalihe": 2 refuses a line without stock
};

// Creates, fills and confirms the document of a file and records the file,
// all in one transaction. A line refused by the register's checks (no
// amount, quantity or price too large, no stock) or a sale without lines
// throws inbox::InpError with the check's message; nothing is written then.
Record CreateInpDocument(TDMGlavni& db, const inbox::InpSale& sale, const InpSource& src, const InpDefaults& d);

void RetireInpFile(TDMGlavni& db, const InpSource& src);
// Several in one transaction.
void RetireInpFiles(TDMGlavni& db, const std::string& folder,
                    const std::vector<std::pair<std::string, std::string>>& nameDigest);
// Retires every waiting record of `folder` whose file is not in `present`.
void SweepInpFiles(TDMGlavni& db, const std::string& folder, const std::set<std::string>& present);

// The watcher's road into the register: read, document, hand-off.
class RegisterInpRoad : public inbox::InpRoad {
public:
    RegisterInpRoad(std::function<TDMGlavni*()> db, SettingsRecord& kasaBaf, device::InvoiceModel& model,
                    device::Fiscalizer& fisk, device::RequestLedger* ledger, bool* fiskIzKase);

    std::function<std::time_t()> clock = [] { return std::time(nullptr); };
    char decimalSep = 0;  // 0: the system's

    std::vector<Result> Take(const std::string& folder, const std::vector<File>& files, bool fiscalise) override;
    void Retired(const std::string& folder, const std::vector<std::pair<std::string, std::string>>& nameDigest) override;
    void Sweep(const std::string& folder, const std::set<std::string>& present) override;

private:
    DateTime workDate() const;
    InpDefaults defaults() const;
    std::function<TDMGlavni*()> db_;
    SettingsRecord& kasaBaf_;
    device::InvoiceModel& model_;
    device::Fiscalizer& fisk_;
    device::RequestLedger* ledger_;
    bool* fiskIzKase_;
    TDMGlavni* ensured_ = nullptr;
    // Request ids of documents made by this run and not handed off yet: they
    // cannot have reached the device, so it is not asked about them first.
    std::set<std::string> fresh_;
};

}  // namespace kv::reg
