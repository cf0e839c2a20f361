// Dynamically typed values of the Quorvel framework.
//
// QVAny holds nothing, a bool, a 64-bit integer, a double, a string or a
// nested QVAnyMap. QVAnyMap maps strings to QVAny and iterates in ascending
// key order. Both are plain values: copies are deep, nothing is shared. An
// empty map holds no storage: making, copying and destroying one, or a QVAny
// holding one, allocates and frees nothing.
// Configuration maps, action parameters and results, event payloads and all
// metadata are carried in them.
//
// QVAny::convert<T> never throws; its results for every held type:
//   convert<bool>:        bool as is; integer/double != 0; string "true"/"1"
//                         (case-sensitive) true, any other string false;
//                         empty and map false.
//   convert<std::string>: string as is; bool "true"/"false"; integer in
//                         decimal; double in shortest round-trip form;
//                         empty and map "".
//   convert<int64_t>/<int>: integer as is (int saturates); bool 0/1; double
//                         truncated toward zero (NaN 0, saturating); string
//                         parsed as a leading decimal integer, else 0;
//                         empty and map 0.
//   convert<double>/<float>: numbers as is; bool 0/1; string parsed as a
//                         number, else 0; empty and map 0.
//   convert<QVAnyMap>:    map as is, anything else an empty map.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <variant>

namespace quorvel {

class QVAny;

class QVAnyMap {
 public:
  using Storage = std::map<std::string, QVAny, std::less<>>;
  using const_iterator = Storage::const_iterator;

  QVAnyMap();
  QVAnyMap(std::initializer_list<std::pair<const std::string, QVAny>> entries);
  QVAnyMap(const QVAnyMap&);
  QVAnyMap(QVAnyMap&&) noexcept;
  QVAnyMap& operator=(const QVAnyMap&);
  QVAnyMap& operator=(QVAnyMap&&) noexcept;
  ~QVAnyMap();

  // A copy of the value under `key`; an empty QVAny when the key is absent.
  QVAny at(const std::string& key) const;
  bool hasKey(const std::string& key) const;
  void set(const std::string& key, QVAny value);
  bool erase(const std::string& key);
  std::size_t size() const;
  bool empty() const;

  const_iterator begin() const;
  const_iterator end() const;

  bool operator==(const QVAnyMap& other) const;

 private:
  std::unique_ptr<Storage> entries_;
};

class QVAny {
 public:
  enum class Type { Empty, Bool, Int, Float, String, Map };

  QVAny();
  QVAny(bool value);
  QVAny(int value);
  QVAny(int64_t value);
  QVAny(double value);
  QVAny(float value);
  QVAny(const char* text);
  QVAny(std::string text);
  QVAny(QVAnyMap map);
  QVAny(const QVAny&);
  QVAny(QVAny&&) noexcept;
  QVAny& operator=(const QVAny&);
  QVAny& operator=(QVAny&&) noexcept;
  ~QVAny();

  Type type() const;
  bool isEmpty() const { return type() == Type::Empty; }

  // Typed access to the held value; nullptr when another type is held.
  const bool* asBool() const;
  const int64_t* asInt() const;
  const double* asFloat() const;
  const std::string* asString() const;
  const QVAnyMap* asMap() const;

  template <typename T>
  static T convert(const QVAny& value);

  bool operator==(const QVAny& other) const;

 private:
  using Storage = std::variant<std::monostate, bool, int64_t, double, std::string, QVAnyMap>;
  Storage value_;
};

template <> bool QVAny::convert<bool>(const QVAny& value);
template <> std::string QVAny::convert<std::string>(const QVAny& value);
template <> int64_t QVAny::convert<int64_t>(const QVAny& value);
template <> int QVAny::convert<int>(const QVAny& value);
template <> double QVAny::convert<double>(const QVAny& value);
template <> float QVAny::convert<float>(const QVAny& value);
template <> QVAnyMap QVAny::convert<QVAnyMap>(const QVAny& value);

const char* typeName(QVAny::Type type);

}  // namespace quorvel
