#pragma once

#include <cstdlib>
#include <optional>
#include <string>

// Sets (or, with a null value, unsets) an environment variable and restores it when it goes.
class TScopedEnv {
public:
  TScopedEnv(const char* Name, const char* Value) : FName(Name) {
    if (const char* Old = std::getenv(Name))
      FOld = Old;
    if (Value)
      setenv(Name, Value, 1);
    else
      unsetenv(Name);
  }
  ~TScopedEnv() {
    if (FOld)
      setenv(FName, FOld->c_str(), 1);
    else
      unsetenv(FName);
  }
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
  const char* FName;
  std::optional<std::string> FOld;
};
