#include "runtime/Exception.h"

std::string ExceptionMessage(std::exception_ptr Error) {
  try {
    std::rethrow_exception(Error);
  } catch (const std::exception& E) {
    return E.what();
  } catch (...) {
    return "Unknown error";
  }
}

std::string FormatMessage(std::string_view Format, std::initializer_list<std::string_view> Args) {
  std::string Result;
  auto Arg = Args.begin();
  for (size_t I = 0; I < Format.size(); ++I) {
    if (Format[I] == '%' && I + 1 < Format.size() && Format[I + 1] == 's' && Arg != Args.end()) {
      Result += *Arg++;
      ++I;
      continue;
    }
    Result += Format[I];
  }
  return Result;
}
