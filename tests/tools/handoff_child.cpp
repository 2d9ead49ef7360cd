// Signs the first confirmed, unsigned invoice of the work year through the
// cash register's hand-off, as Kovira does on F9, over the settings file
// given. The register's kill test runs it and kills it mid-way.
#include <iostream>

#include "app/AppContext.h"
#include "register/HandOff.h"
#include "register/uDMGlavni.h"
#include "util/LogPrompter.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: kovira_handoff_child SETTINGS LOCKDIR" << std::endl;
        return 2;
    }
    kv::LogPrompter prompter(std::cerr, true);
    kv::AppContext ctx(argv[1], prompter, argv[2]);
    if (ctx.Start() != kv::AppContext::StartResult::Ok || !ctx.db()) return 1;
    ctx.settings.FillRecords({});
    const int year = static_cast<int>(ctx.settings.KasaBaf.integer("Godina"));
    for (const auto& h : ctx.db()->Racuni(year)) {
        if (h.integer("Status") != 1 || !h.text("PFRBROJ").empty()) continue;
        kv::reg::HandOffContext hc{*ctx.db(), ctx.invoice, ctx.fisk(), &ctx.ledger(), &ctx.watcher().FiskIzKase, "ana"};
        std::cout << "handing off " << h.text("Broj") << std::endl;
        const std::string error = kv::reg::PrintFisk(hc, h, 0, *h.date("Datum"), std::time(nullptr));
        std::cout << (error.empty() ? "signed" : error) << std::endl;
        return error.empty() ? 0 : 3;
    }
    return 4;
}
