// The event sink's Invoke with any dispatch identifier, interface
// identifier, flags, argument count and arguments.
// Input: 1 byte head (bits 0-1: interface 0 IID_NULL, 1 IID_IDispatch,
// 2 sixteen bytes that follow, 3 IID_NULL; bit 2: no DISPPARAMS; bit 3:
// no argument array; bit 4: result, exception and argument-error places
// given), 4 bytes dispatch identifier, 2 bytes flags, 1 byte argument
// count (% 9), 1 byte named-argument count (at most the argument count),
// then the arguments last first (see fuzz/com/variant_input.h).
// Beyond not crashing: the answer is the one the sink promises for the
// identifiers and count; a refused call changes nothing; the caller's
// arguments and places are left as they were; nothing is leaked.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/com/variant_input.h"
#include "server/event_sink.h"

namespace {

using fuzzing::Require;

IID ReadInterface(fuzzing::ByteReader& in, int choice) {
  if (choice == 1) return IID_IDispatch;
  if (choice != 2) return IID_NULL;
  IID iid;
  iid.Data1 = static_cast<std::uint32_t>(in.Little(4));
  iid.Data2 = static_cast<std::uint16_t>(in.Little(2));
  iid.Data3 = static_cast<std::uint16_t>(in.Little(2));
  for (auto& b : iid.Data4) b = in.Byte();
  return iid;
}

std::string State(CEventSink& sink) {
  const SErrorData error = sink.GetErrorData();
  return std::to_string(sink.CommsOK()) + std::to_string(sink.MethodRunning()) + std::to_string(sink.IsInError()) +
         " " + std::to_string(error.nUnitType) + " " + std::to_string(error.nSubCode) + " " +
         std::to_string(error.nErrorBits) + " " + std::to_string(error.bstrText.length());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const long bstrsBefore = platform::com::LiveBstrCountForTesting();
  fuzzing::ByteReader in(data, size);
  const std::uint8_t head = in.Byte();
  const auto dispid = static_cast<DISPID>(static_cast<std::uint32_t>(in.Little(4)));
  const IID riid = ReadInterface(in, head & 3);
  const auto flags = static_cast<WORD>(in.Little(2));
  const UINT count = in.Byte() % 9;
  const UINT named = std::min<UINT>(in.Byte(), count);
  std::vector<VARIANT> args(count);
  for (VARIANT& v : args) fuzzing::ReadVariant(in, v);
  std::vector<std::string> argsBefore;
  for (const VARIANT& v : args) argsBefore.push_back(fuzzing::Snapshot(v));
  std::vector<DISPID> names(named, DISPID_UNKNOWN);
  DISPPARAMS params{(head & 8) ? nullptr : args.data(), named ? names.data() : nullptr, count, named};

  VARIANT result;
  VariantInit(&result);
  EXCEPINFO exception;
  std::memset(&exception, 0, sizeof exception);
  UINT argError = 12345;
  const bool places = (head & 16) != 0;

  HRESULT hr = S_OK;
  {
    CEventSink sink(1);
    const std::string fresh = State(sink);
    hr = sink.Invoke(dispid, riid, 0x409, flags, (head & 4) ? nullptr : &params, places ? &result : nullptr,
                     places ? &exception : nullptr, places ? &argError : nullptr);
    const bool known = dispid == DISPID_HplcMessage || dispid == DISPID_ErrorEvent;
    const UINT expected = dispid == DISPID_HplcMessage ? 5 : 4;
    const bool usable = !(head & 4) && !(head & 8) && count == expected;
    if (!IsEqualIID(riid, IID_NULL)) {
      Require(hr == DISP_E_UNKNOWNINTERFACE);
    } else if (!known) {
      Require(hr == S_OK);
    } else if (!usable) {
      Require(hr == DISP_E_BADPARAMCOUNT);
    } else {
      Require(hr == S_OK || hr == E_OUTOFMEMORY);
    }
    if (hr != S_OK || !known) Require(State(sink) == fresh);
    if (hr == S_OK && dispid == DISPID_ErrorEvent && usable) Require(sink.IsInError() == 1);
  }
  for (UINT i = 0; i < count; ++i) Require(fuzzing::Snapshot(args[i]) == argsBefore[i]);
  Require(result.vt == VT_EMPTY && exception.bstrDescription == nullptr && argError == 12345);
  for (VARIANT& v : args) VariantClear(&v);
  Require(platform::com::LiveBstrCountForTesting() == bstrsBefore);
  Require(fuzzing::CountingObject::Get().References() == 0);
  return 0;
}
