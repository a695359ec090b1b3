// The package's own SAA declarations (frame/saa_types.h) against Regina's
// header, at compile time: a layout or width that differs fails the build.
// The same declarations are checked against ooRexx by running every REXX
// end-to-end script under it (tests/rexx).
#include <gtest/gtest.h>

#include <cstddef>
#include <type_traits>

#include "frame/saa_types.h"

namespace ours {
// Taken before Regina's header, whose macros have the same names.
constexpr int kSet = ktdb::RXSHV_SET, kFetch = ktdb::RXSHV_FETCH, kSyset = ktdb::RXSHV_SYSET,
              kSyfet = ktdb::RXSHV_SYFET, kDropv = ktdb::RXSHV_DROPV;
constexpr int kOk = ktdb::RXSHV_OK, kNewv = ktdb::RXSHV_NEWV, kLvar = ktdb::RXSHV_LVAR,
              kTrunc = ktdb::RXSHV_TRUNC, kBadn = ktdb::RXSHV_BADN, kMemfl = ktdb::RXSHV_MEMFL,
              kBadf = ktdb::RXSHV_BADF, kNoavl = ktdb::RXSHV_NOAVL;
constexpr std::size_t kAutoBuffer = ktdb::RXAUTOBUFLEN;
using String = ktdb::RXSTRING;
using Block = ktdb::SHVBLOCK;
using Handler = ktdb::FunctionHandler;
using Pool = ktdb::VariablePool;
using Register = ktdb::RegisterFunctionDll;
using Deregister = ktdb::DeregisterFunction;
using Allocate = ktdb::AllocateMemory;
}  // namespace ours

#define INCL_RXSHV
#define INCL_RXFUNC
#include <rexxsaa.h>

namespace {

template <typename F>
struct Signature;
template <typename R, typename... A>
struct Signature<R(A...)> {
  using Result = R;
  static constexpr std::size_t kCount = sizeof...(A);
  template <std::size_t I>
  using Arg = std::tuple_element_t<I, std::tuple<A...>>;
};

// Two parameter types that the calling convention passes alike: pointers
// with pointers, integers of one width with each other.
template <typename A, typename B>
constexpr bool kPassedAlike = (std::is_pointer_v<A> && std::is_pointer_v<B>) ||
                              (std::is_integral_v<A> && std::is_integral_v<B> &&
                               sizeof(A) == sizeof(B));

template <typename Ours, typename Theirs, std::size_t... I>
constexpr bool ParametersAlike(std::index_sequence<I...>) {
  return Signature<Ours>::kCount == Signature<Theirs>::kCount &&
         (kPassedAlike<typename Signature<Ours>::template Arg<I>,
                       typename Signature<Theirs>::template Arg<I>> &&
          ...);
}
template <typename Ours, typename Theirs>
constexpr bool kParametersAlike =
    ParametersAlike<Ours, Theirs>(std::make_index_sequence<Signature<Ours>::kCount>{});

// RXSTRING
static_assert(sizeof(ours::String) == sizeof(::RXSTRING));
static_assert(alignof(ours::String) == alignof(::RXSTRING));
static_assert(offsetof(ours::String, strlength) == offsetof(::RXSTRING, strlength));
static_assert(sizeof(ours::String::strlength) == sizeof(::RXSTRING::strlength));
static_assert(offsetof(ours::String, strptr) == offsetof(::RXSTRING, strptr));

// SHVBLOCK, field by field
static_assert(sizeof(ours::Block) == sizeof(::SHVBLOCK));
static_assert(alignof(ours::Block) == alignof(::SHVBLOCK));
#define KTDB_SAME_FIELD(F)                                             \
  static_assert(offsetof(ours::Block, F) == offsetof(::SHVBLOCK, F) && \
                sizeof(ours::Block::F) == sizeof(::SHVBLOCK::F))
KTDB_SAME_FIELD(shvnext);
KTDB_SAME_FIELD(shvname);
KTDB_SAME_FIELD(shvvalue);
KTDB_SAME_FIELD(shvnamelen);
KTDB_SAME_FIELD(shvvaluelen);
KTDB_SAME_FIELD(shvcode);
KTDB_SAME_FIELD(shvret);
#undef KTDB_SAME_FIELD

// Request codes, answer flags, the result buffer
static_assert(ours::kSet == RXSHV_SET && ours::kFetch == RXSHV_FETCH &&
              ours::kSyset == RXSHV_SYSET && ours::kSyfet == RXSHV_SYFET &&
              ours::kDropv == RXSHV_DROPV);
static_assert(ours::kOk == RXSHV_OK && ours::kNewv == RXSHV_NEWV && ours::kLvar == RXSHV_LVAR &&
              ours::kTrunc == RXSHV_TRUNC && ours::kBadn == RXSHV_BADN &&
              ours::kMemfl == RXSHV_MEMFL && ours::kBadf == RXSHV_BADF &&
              ours::kNoavl == RXSHV_NOAVL);
static_assert(ours::kAutoBuffer == RXAUTOBUFLEN);

// The external function: the interpreter reads the whole answer register,
// so the package's answer must be exactly as wide as the interpreter's.
static_assert(sizeof(Signature<ours::Handler>::Result) ==
              sizeof(Signature<::RexxFunctionHandler>::Result));
static_assert(kParametersAlike<ours::Handler, ::RexxFunctionHandler>);

// The API functions: the package may read a narrower answer than the
// interpreter writes (the low bits), never a wider one.
static_assert(sizeof(Signature<ours::Pool>::Result) <=
              sizeof(decltype(::RexxVariablePool(nullptr))));
static_assert(kParametersAlike<ours::Pool, decltype(::RexxVariablePool)>);
static_assert(sizeof(Signature<ours::Register>::Result) <=
              sizeof(decltype(::RexxRegisterFunctionDll(nullptr, nullptr, nullptr))));
static_assert(kParametersAlike<ours::Register, decltype(::RexxRegisterFunctionDll)>);
static_assert(sizeof(Signature<ours::Deregister>::Result) <=
              sizeof(decltype(::RexxDeregisterFunction(nullptr))));
static_assert(kParametersAlike<ours::Deregister, decltype(::RexxDeregisterFunction)>);
static_assert(kParametersAlike<ours::Allocate, decltype(::RexxAllocateMemory)>);
static_assert(std::is_pointer_v<decltype(::RexxAllocateMemory(0))> &&
              std::is_pointer_v<Signature<ours::Allocate>::Result>);

// The checks above are the test; this only gives it a name in the results.
TEST(SaaLayout, MatchesReginasHeader) {
  SUCCEED();
}

}  // namespace
