#include <gtest/gtest.h>

#include <stdexcept>

#include "crashreport/SymbolNames.h"
#include "platform/utf.h"
#include "rtl/Exception.h"

namespace orvtest {
class EThing : public std::exception {};
}  // namespace orvtest

namespace {

TEST(SymbolNames, RoutineNamesDropNamespacesAndArguments) {
  struct TCase {
    const char* Symbol;
    const char* Expected;
  };
  const TCase cases[] = {
      {"", ""},
      {"pthread_cond_wait", "pthread_cond_wait"},
      {"_ZN3win22StackAddressesOfThreadEj", "StackAddressesOfThread"},
      {"_ZN9TThreadEx7ExecuteEv", "TThreadEx.Execute"},
      {"_ZNK3orv4TFoo3BarEi", "TFoo.Bar"},
      {"orv::TFoo::Bar(int) const", "TFoo.Bar"},
      {"void orv::Foo<int>(std::vector<int, std::allocator<int> > const&)", "Foo<int>"},
      {"(anonymous namespace)::Helper(int)", "Helper"},
      {"orv::TFoo::Bar()::{lambda(int)#1}::operator()(int) const", "TFoo.Bar.{lambda}"},
      {"Run(int)::{lambda()#2}::operator()() const", "Run.{lambda}"},
      {"TFoo::operator()(int)", "TFoo.operator()"},
      {"TFoo::operator<(TFoo const&) const", "TFoo.operator<"},
      {"std::condition_variable::wait(std::unique_lock<std::mutex>&)", "wait"},
      {"_Z3foov.cold", "foo"},
      {"main", "main"},
  };
  for (const TCase& c : cases) EXPECT_EQ(TextToUtf8(RoutineNameOfSymbol(c.Symbol)), c.Expected) << c.Symbol;
}

TEST(SymbolNames, ClassNamesOfExceptions) {
  EXPECT_EQ(TextToUtf8(ClassNameOfType(typeid(EDebugStop))), "EDebugStop");
  EXPECT_EQ(TextToUtf8(ClassNameOfType(typeid(std::runtime_error))), "runtime_error");
  EXPECT_EQ(TextToUtf8(ClassNameOfType(typeid(orvtest::EThing))), "EThing");
  EXPECT_EQ(TextToUtf8(ClassNameOfType(typeid(int))), "int");
}

}  // namespace
