#include "register/Record.h"

#include <stdexcept>

namespace kv::reg {

int ScaleOf(ColType type) {
    switch (type) {
        case ColType::Money:
        case ColType::Real: return 2;
        case ColType::Quantity: return 4;
        default: return -1;
    }
}

namespace {
Currency AtScale(Currency v, int scale) { return scale == 4 ? v : RoundCurr(-scale, v); }

std::invalid_argument Bad(const Column& c, const std::string& what) {
    return std::invalid_argument("'" + what + "' is not a valid value for " + c.name);
}
}  // namespace

Value ToColumnType(const Column& c, const Value& v) {
    if (std::holds_alternative<std::monostate>(v)) return v;
    const auto* s = std::get_if<std::string>(&v);
    switch (c.type) {
        case ColType::Text:
            if (s) return v;
            if (auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
            if (auto* m = std::get_if<Currency>(&v)) return NumberText(*m);
            throw Bad(c, "?");
        case ColType::Integer:
            if (auto* i = std::get_if<std::int64_t>(&v)) return *i;
            if (auto* b = std::get_if<bool>(&v)) return std::int64_t(*b);
            if (s) {
                if (s->empty()) return std::monostate{};
                size_t used = 0;
                try {
                    long long n = std::stoll(*s, &used);
                    if (used == s->size()) return std::int64_t(n);
                } catch (const std::exception&) {
                }
                throw Bad(c, *s);
            }
            throw Bad(c, "?");
        case ColType::Money:
        case ColType::Quantity:
        case ColType::Real: {
            int scale = ScaleOf(c.type);
            if (auto* m = std::get_if<Currency>(&v)) return AtScale(*m, scale);
            if (auto* i = std::get_if<std::int64_t>(&v)) return Currency(*i);
            if (auto* d = std::get_if<double>(&v)) return AtScale(Currency::fromDouble(*d), scale);
            if (s) {
                if (s->empty()) return std::monostate{};
                if (auto m = ParseCurrencyWithRetry(*s, '.')) return AtScale(*m, scale);
                throw Bad(c, *s);
            }
            throw Bad(c, "?");
        }
        case ColType::Date:
        case ColType::DateTime: {
            DateTime d;
            if (auto* dt = std::get_if<DateTime>(&v))
                d = *dt;
            else if (s) {
                if (s->empty()) return std::monostate{};
                auto p = ParseDateTimeText(*s);
                if (!p) throw Bad(c, *s);
                d = *p;
            } else
                throw Bad(c, "?");
            return c.type == ColType::Date ? d.date() : d;
        }
    }
    return v;
}

int Record::col(std::string_view column) const {
    int i = table->index(column);
    if (i < 0) throw std::out_of_range(std::string(table->name) + " has no column " + std::string(column));
    return i;
}

const Value& Record::operator[](std::string_view column) const { return values[col(column)]; }

Record& Record::set(std::string_view column, const Value& v) {
    int i = col(column);
    values[i] = ToColumnType(table->columns[i], v);
    return *this;
}

bool Record::isNull(std::string_view column) const {
    return std::holds_alternative<std::monostate>(values[col(column)]);
}

std::string Record::text(std::string_view column) const {
    const Value& v = values[col(column)];
    if (auto* s = std::get_if<std::string>(&v)) return *s;
    if (auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
    if (auto* m = std::get_if<Currency>(&v)) return NumberText(*m);
    if (auto* d = std::get_if<DateTime>(&v))
        return table->columns[col(column)].type == ColType::Date ? d->toIsoDate() : d->toIso(' ');
    return {};
}

std::optional<std::int64_t> Record::integer(std::string_view column) const {
    const Value& v = values[col(column)];
    if (auto* i = std::get_if<std::int64_t>(&v)) return *i;
    return std::nullopt;
}

std::optional<Currency> Record::decimal(std::string_view column) const {
    const Value& v = values[col(column)];
    if (auto* m = std::get_if<Currency>(&v)) return *m;
    if (auto* i = std::get_if<std::int64_t>(&v)) return Currency(*i);
    return std::nullopt;
}

std::optional<DateTime> Record::date(std::string_view column) const {
    const Value& v = values[col(column)];
    if (auto* d = std::get_if<DateTime>(&v)) return *d;
    return std::nullopt;
}

}  // namespace kv::reg
