#pragma once
// Discount cards: each card lists discounts in percent for single articles
// ("A") or whole article groups ("G"). Applying a card lowers the price of
// every line it covers; the invoice remembers the card so it is applied once.
#include <optional>
#include <string>
#include <vector>

#include "register/Record.h"
#include "util/Currency.h"

namespace kv::reg {

struct DiscountHit {
    Currency percent;
    std::string card;
};

// The discount of card rows `rabat` for an article of group `grupa`: the
// article's own first, and its group's only when the article has none or 0 %.
std::optional<DiscountHit> DiscountFor(const std::vector<Record>& rabat, const std::string& artikl,
                                       const std::string& grupa);

// price x (100 - percent) / 100, to four decimals, then to hundredths.
Currency DiscountedPrice(Currency price, Currency percent);

}  // namespace kv::reg
