// Base of every scriptable framework object: actions, events and values.
//
// registerAction / registerEvent record a name with its description map so
// that applications can list what an object offers (in registration order;
// registering a name again replaces its map in place). The default
// setValue/getValue/callAction know no key or action and return an error
// result naming it: "Unknown value: <key>", "Unknown action: <name>".
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "EventEmitter.h"
#include "QVAny.h"
#include "Result.h"

namespace quorvel {

class QuorvelObject : public EventEmitter {
 public:
  using Registry = std::vector<std::pair<std::string, QVAnyMap>>;

  QuorvelObject();
  ~QuorvelObject() override;

  virtual Result<void> setValue(const std::string& key, const QVAny& value);
  virtual Result<QVAny> getValue(const std::string& key);
  virtual Result<QVAny> callAction(const std::string& actionName, const QVAnyMap& params);

  const Registry& getActions() const { return actions_; }
  const Registry& getEvents() const { return events_; }

 protected:
  void registerAction(const std::string& name, const QVAnyMap& metadata);
  void registerEvent(const std::string& name, const QVAnyMap& metadata);

 private:
  Registry actions_;
  Registry events_;
};

}  // namespace quorvel
