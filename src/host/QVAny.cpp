#include "quorvel/QVAny.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace quorvel {

// ---- QVAnyMap ---------------------------------------------------------------

// Storage is made by the first entry: an empty map (such as the payload of
// an event emitted on the audio thread) allocates and frees nothing.
static std::unique_ptr<QVAnyMap::Storage> copyOf(const std::unique_ptr<QVAnyMap::Storage>& entries) {
  return entries && !entries->empty() ? std::make_unique<QVAnyMap::Storage>(*entries) : nullptr;
}

QVAnyMap::QVAnyMap() = default;
QVAnyMap::QVAnyMap(std::initializer_list<std::pair<const std::string, QVAny>> entries)
    : entries_(entries.size() > 0 ? std::make_unique<Storage>(entries) : nullptr) {}
QVAnyMap::QVAnyMap(const QVAnyMap& other) : entries_(copyOf(other.entries_)) {}
QVAnyMap::QVAnyMap(QVAnyMap&& other) noexcept : entries_(std::move(other.entries_)) {}
QVAnyMap& QVAnyMap::operator=(const QVAnyMap& other) {
  if (this != &other) entries_ = copyOf(other.entries_);
  return *this;
}
QVAnyMap& QVAnyMap::operator=(QVAnyMap&& other) noexcept {
  entries_.swap(other.entries_);
  return *this;
}
QVAnyMap::~QVAnyMap() = default;

// A map without storage (new, or moved from) is empty to every accessor.
QVAny QVAnyMap::at(const std::string& key) const {
  if (!entries_) return {};
  auto it = entries_->find(key);
  return it == entries_->end() ? QVAny() : it->second;
}
bool QVAnyMap::hasKey(const std::string& key) const { return entries_ && entries_->count(key) > 0; }
void QVAnyMap::set(const std::string& key, QVAny value) {
  if (!entries_) entries_ = std::make_unique<Storage>();
  (*entries_)[key] = std::move(value);
}
bool QVAnyMap::erase(const std::string& key) { return entries_ && entries_->erase(key) > 0; }
std::size_t QVAnyMap::size() const { return entries_ ? entries_->size() : 0; }
bool QVAnyMap::empty() const { return size() == 0; }

static const QVAnyMap::Storage& emptyStorage() {
  static const QVAnyMap::Storage empty;
  return empty;
}
QVAnyMap::const_iterator QVAnyMap::begin() const { return entries_ ? entries_->begin() : emptyStorage().begin(); }
QVAnyMap::const_iterator QVAnyMap::end() const { return entries_ ? entries_->end() : emptyStorage().end(); }
bool QVAnyMap::operator==(const QVAnyMap& other) const {
  if (size() != other.size()) return false;
  auto a = begin();
  auto b = other.begin();
  for (; a != end(); ++a, ++b) {
    if (a->first != b->first || !(a->second == b->second)) return false;
  }
  return true;
}

// ---- QVAny ------------------------------------------------------------------

QVAny::QVAny() = default;
QVAny::QVAny(bool value) : value_(value) {}
QVAny::QVAny(int value) : value_(static_cast<int64_t>(value)) {}
QVAny::QVAny(int64_t value) : value_(value) {}
QVAny::QVAny(double value) : value_(value) {}
QVAny::QVAny(float value) : value_(static_cast<double>(value)) {}
QVAny::QVAny(const char* text) : value_(std::string(text != nullptr ? text : "")) {}
QVAny::QVAny(std::string text) : value_(std::move(text)) {}
QVAny::QVAny(QVAnyMap map) : value_(std::move(map)) {}
QVAny::QVAny(const QVAny&) = default;
QVAny::QVAny(QVAny&&) noexcept = default;
QVAny& QVAny::operator=(const QVAny&) = default;
QVAny& QVAny::operator=(QVAny&&) noexcept = default;
QVAny::~QVAny() = default;

QVAny::Type QVAny::type() const { return static_cast<Type>(value_.index()); }
const bool* QVAny::asBool() const { return std::get_if<bool>(&value_); }
const int64_t* QVAny::asInt() const { return std::get_if<int64_t>(&value_); }
const double* QVAny::asFloat() const { return std::get_if<double>(&value_); }
const std::string* QVAny::asString() const { return std::get_if<std::string>(&value_); }
const QVAnyMap* QVAny::asMap() const { return std::get_if<QVAnyMap>(&value_); }
bool QVAny::operator==(const QVAny& other) const { return value_ == other.value_; }

namespace {

int64_t saturate(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 9.2233720368547758e18) return std::numeric_limits<int64_t>::max();
  if (d <= -9.2233720368547758e18) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(d);
}

int64_t parseInt(const std::string& s) {
  int64_t v = 0;
  const char* first = s.data();
  while (first < s.data() + s.size() && (*first == ' ' || *first == '\t')) ++first;
  if (first < s.data() + s.size() && *first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, s.data() + s.size(), v);
  return ec == std::errc() ? v : 0;
}

double parseDouble(const std::string& s) {
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  return end == s.c_str() ? 0.0 : v;
}

}  // namespace

template <>
bool QVAny::convert<bool>(const QVAny& value) {
  switch (value.type()) {
    case Type::Bool: return *value.asBool();
    case Type::Int: return *value.asInt() != 0;
    case Type::Float: return *value.asFloat() != 0.0;
    case Type::String: return *value.asString() == "true" || *value.asString() == "1";
    default: return false;
  }
}

template <>
std::string QVAny::convert<std::string>(const QVAny& value) {
  switch (value.type()) {
    case Type::String: return *value.asString();
    case Type::Bool: return *value.asBool() ? "true" : "false";
    case Type::Int: return std::to_string(*value.asInt());
    case Type::Float: {
      char buf[64];
      auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, *value.asFloat());
      return ec == std::errc() ? std::string(buf, ptr) : std::string();
    }
    default: return {};
  }
}

template <>
int64_t QVAny::convert<int64_t>(const QVAny& value) {
  switch (value.type()) {
    case Type::Int: return *value.asInt();
    case Type::Bool: return *value.asBool() ? 1 : 0;
    case Type::Float: return saturate(*value.asFloat());
    case Type::String: return parseInt(*value.asString());
    default: return 0;
  }
}

template <>
int QVAny::convert<int>(const QVAny& value) {
  int64_t v = convert<int64_t>(value);
  if (v > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (v < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

template <>
double QVAny::convert<double>(const QVAny& value) {
  switch (value.type()) {
    case Type::Float: return *value.asFloat();
    case Type::Int: return static_cast<double>(*value.asInt());
    case Type::Bool: return *value.asBool() ? 1.0 : 0.0;
    case Type::String: return parseDouble(*value.asString());
    default: return 0.0;
  }
}

template <>
float QVAny::convert<float>(const QVAny& value) {
  return static_cast<float>(convert<double>(value));
}

template <>
QVAnyMap QVAny::convert<QVAnyMap>(const QVAny& value) {
  const QVAnyMap* map = value.asMap();
  return map != nullptr ? *map : QVAnyMap();
}

const char* typeName(QVAny::Type type) {
  switch (type) {
    case QVAny::Type::Empty: return "empty";
    case QVAny::Type::Bool: return "boolean";
    case QVAny::Type::Int: return "int";
    case QVAny::Type::Float: return "float";
    case QVAny::Type::String: return "string";
    case QVAny::Type::Map: return "object";
  }
  return "unknown";
}

}  // namespace quorvel
