#include "sim/windows/server_program.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/clock/clock.h"
#include "sim/control_wire.h"
#include "sim/simulated_server.h"
#include "sim/windows/simulator_control.h"

const IID IID_IQuarnSimulatorControl = {0x5A3C0101, 0x7A11, 0x4C00, {0x8E, 0x01, 0x51, 0x75, 0x61, 0x72, 0x6E, 0x81}};
const IID IID_IQuarnTraceSink = {0x5A3C0102, 0x7A11, 0x4C00, {0x8E, 0x01, 0x51, 0x75, 0x61, 0x72, 0x6E, 0x82}};
const GUID LIBID_QuarnSimulatorControlLib = {
    0x5A3C0100, 0x7A11, 0x4C00, {0x8E, 0x01, 0x51, 0x75, 0x61, 0x72, 0x6E, 0x80}};

namespace sim {

namespace {

constexpr const wchar_t* kAppId = L"{3F6A2C71-8E4B-4D19-B5A0-7C2E9D14F860}";
constexpr const wchar_t* kServerName = L"TavixServer";
// How long a started program waits for its first client before it gives
// up, and how often it looks whether its clients are gone (wall time).
constexpr auto kFirstClientWait = std::chrono::seconds(30);
constexpr auto kLifetimeCheck = std::chrono::milliseconds(50);
// The program ended on demand (a fault): how long after its answer, and
// with what exit code.
constexpr auto kEndDelay = std::chrono::milliseconds(20);
constexpr UINT kEndedExitCode = 3;
// How long a host waits for the program to end once asked.
constexpr DWORD kEndWaitMs = 10000;
// What a call to a program that is gone returns ("The RPC server is
// unavailable").
constexpr HRESULT kServerUnavailable = static_cast<HRESULT>(0x800706BA);

std::wstring GuidText(REFGUID guid) {
  wchar_t text[64] = {};
  StringFromGUID2(guid, text, 64);
  return text;
}

std::wstring ClassKey() { return L"CLSID\\" + GuidText(CLSID_TavixServer); }

std::string Utf8(const std::wstring& text) {
  std::string out;
  for (const wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

std::string Utf8(BSTR text) { return text ? Utf8(std::wstring(text, SysStringLen(text))) : std::string(); }

BSTR Bstr(const std::string& text) {
  std::wstring wide(text.begin(), text.end());
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string HrText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

// The default value of HKEY_CLASSES_ROOT\<key> (and value `name`) set to `value`.
LSTATUS SetClassValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY handle = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  return status;
}

// The program's two type libraries: the server's (resource 1) and the
// control's (resource 2).
std::wstring TypeLibPath(const std::wstring& program, int resource) {
  return resource == 1 ? program : program + L"\\" + std::to_wstring(resource);
}

// ---- The program's side ----

// Whether this process is the server's program: its simulators are the
// server, and its control acts on them here.
bool g_servingHere = false;
// The program's registration of the server's class with COM.
std::atomic<DWORD> g_classCookie{0};

// Stands in for an object of one of the server's interfaces, so that the
// program can keep a stub of it (PinInterfaces). Nothing ever calls it
// through that interface: it answers only for it and IUnknown (COM asks
// for others, such as IMarshal, before it makes a stub).
class InterfacePin final : public IUnknown {
 public:
  explicit InterfacePin(const IID& iid) : m_iid(iid) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, m_iid) ? static_cast<IUnknown*>(this) : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  // Lives as long as the program.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

 private:
  const IID m_iid;
};

// Wine's COM withdraws an interface from its RPC runtime when the last
// stub of that interface goes, and waits there for the calls on it to
// end. A client's release of its last solvent, coming while the reply to
// its call on that solvent is still being finished, can wait forever: the
// run hangs in the release. The program therefore keeps a stub of every
// interface of its type library for its whole life (marshaled into a
// stream nobody reads), so that a client's release only ever drops an
// object's stub. It also spares every object the interface's
// registration. Where this fails the program serves all the same.
void PinInterfaces(const std::wstring& program) {
  ITypeLib* library = nullptr;
  if (FAILED(LoadTypeLibEx(TypeLibPath(program, 1).c_str(), REGKIND_NONE, &library))) return;
  for (UINT i = 0, count = library->GetTypeInfoCount(); i < count; ++i) {
    TYPEKIND kind{};
    ITypeInfo* info = nullptr;
    if (FAILED(library->GetTypeInfoType(i, &kind)) || kind != TKIND_INTERFACE ||
        FAILED(library->GetTypeInfo(i, &info))) {
      continue;
    }
    TYPEATTR* attributes = nullptr;
    IStream* stream = nullptr;
    if (SUCCEEDED(info->GetTypeAttr(&attributes))) {
      // The stream, and with it the stub, is kept until the program ends.
      if (SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) {
        CoMarshalInterface(stream, attributes->guid, new InterfacePin(attributes->guid), MSHCTX_LOCAL, nullptr,
                           MSHLFLAGS_TABLESTRONG);
      }
      info->ReleaseTypeAttr(attributes);
    }
    info->Release();
  }
  library->Release();
}

// The server's class object: hands out the server's root object, and
// offers the simulator's control beside.
class ServerClassObject final : public IClassFactory, public IQuarnSimulatorControl {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
    } else if (riid == IID_IQuarnSimulatorControl) {
      *ppv = static_cast<IQuarnSimulatorControl*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
  // Never deleted: it lives as long as the program.
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&m_refs)); }
  LONG References() const { return InterlockedCompareExchange(const_cast<LONG*>(&m_refs), 0, 0); }

  // ---- IClassFactory ----
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    m_served = true;
    return SimulatedServer::CreateRoot(riid, ppv);
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

  // ---- IQuarnSimulatorControl ----
  STDMETHODIMP Call(BSTR name, BSTR arguments, BSTR* result) override {
    if (result) *result = nullptr;
    m_served = true;
    try {
      if (Utf8(name) == "Connect") {
        // A server that serves no session starts afresh, as a simulator
        // the host's own process would have made.
        if (SimulatedServer::Get().LiveObjects() == 0) SimulatedServer::Get().Reset();
        WatchHost(static_cast<DWORD>(std::strtoul(Utf8(arguments).c_str(), nullptr, 10)));
        if (result) *result = Bstr(std::to_string(GetCurrentProcessId()));
        return S_OK;
      }
      if (Utf8(name) == "Clock") return FollowClock(Utf8(arguments));
      if (Utf8(name) == "EndServer") {
        // Ended once this answer is on its way: the class withdrawn, so
        // that the next client starts the program afresh at once, and
        // nothing else let go, as when a program fails.
        std::thread([] {
          std::this_thread::sleep_for(kEndDelay);
          CoRevokeClassObject(g_classCookie.load());
          TerminateProcess(GetCurrentProcess(), kEndedExitCode);
        }).detach();
        return S_OK;
      }
      const std::string answer = ServeControlCall(InProcessControl(), Utf8(name), Utf8(arguments));
      if (result && !answer.empty()) *result = Bstr(answer);
      return S_OK;
    } catch (const std::exception& e) {
      if (result) *result = Bstr(e.what());
      return E_INVALIDARG;
    }
  }
  STDMETHODIMP NextDueMs(DOUBLE* ms) override {
    if (!ms) return E_POINTER;
    // A stop of the caller's clock costs a call across processes: the
    // program asks for stops only where its instruments do something
    // visible, and at least once a second.
    constexpr std::int64_t kHorizonMs = 1000;
    const std::int64_t due = SimulatedServer::Get().NextNoticeMs(platform::Clock::Get().NowMs() + kHorizonMs);
    *ms = due == platform::Clock::Driver::kNothingDue ? -1.0 : static_cast<double>(due);
    return S_OK;
  }
  STDMETHODIMP AdvanceTo(DOUBLE ms) override {
    platform::Clock& clock = platform::Clock::Get();
    const auto target = static_cast<std::int64_t>(ms);
    if (clock.GetMode() != platform::Clock::Mode::kVirtual) clock.UseVirtual(target);
    clock.SleepMs(target - clock.NowMs());
    return S_OK;
  }
  STDMETHODIMP TraceTo(IQuarnTraceSink* sink) override {
    if (!sink) {
      SimulatedServer::Get().SetTraceSink(nullptr);
      return S_OK;
    }
    sink->AddRef();
    // Released with the last copy of the function, when the trace is
    // replaced.
    std::shared_ptr<IQuarnTraceSink> held(sink, [](IQuarnTraceSink* s) { s->Release(); });
    SimulatedServer::Get().SetTraceSink([held](const std::string& line) {
      BSTR text = Bstr(line);
      held->Line(text);
      SysFreeString(text);
    });
    return S_OK;
  }

  // Whether a client has come since the program started.
  bool Served() const { return m_served; }
  // Whether every host that connected has ended (false before one did).
  // The system drops an ended client's references only after minutes
  // (wine never does): a killed host would otherwise hold the program,
  // and the state it left, for the next.
  bool HostsGone() {
    std::lock_guard<std::mutex> lock(m_hostsMutex);
    if (m_hosts.empty()) return false;
    for (const HANDLE host : m_hosts) {
      if (WaitForSingleObject(host, 0) != WAIT_OBJECT_0) return false;
    }
    return true;
  }

 private:
  // The clock takes the host's mode, and in virtual time its time.
  HRESULT FollowClock(const std::string& arguments) {
    long long nowMs = 0;
    int isVirtual = 0;
    double scale = 1.0;
    if (std::sscanf(arguments.c_str(), "[%d,%lld,%lf]", &isVirtual, &nowMs, &scale) != 3) return E_INVALIDARG;
    if (isVirtual) {
      platform::Clock::Get().UseVirtual(nowMs);
    } else {
      platform::Clock::Get().UseScaled(scale);
    }
    return S_OK;
  }

  void WatchHost(DWORD processId) {
    if (const HANDLE host = OpenProcess(SYNCHRONIZE, FALSE, processId)) {
      std::lock_guard<std::mutex> lock(m_hostsMutex);
      m_hosts.push_back(host);
    }
  }

  LONG m_refs = 1;
  std::atomic<bool> m_served{false};
  std::mutex m_hostsMutex;
  std::vector<HANDLE> m_hosts;  // guarded by m_hostsMutex
};

// ---- The host's side ----

// A trace line's way back into the host's process.
class TraceSink final : public IQuarnTraceSink {
 public:
  explicit TraceSink(std::function<void(const std::string&)> sink) : m_sink(std::move(sink)) {}
  virtual ~TraceSink() = default;
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IQuarnTraceSink) return E_NOINTERFACE;
    *ppv = static_cast<IQuarnTraceSink*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
  }
  STDMETHODIMP Line(BSTR line) override {
    m_sink(Utf8(line));
    return S_OK;
  }

 private:
  std::function<void(const std::string&)> m_sink;
  LONG m_refs = 1;
};

// The control for the server in its program: the server's settings go
// there over the control interface, and this process's clock drives the
// program's while connected.
class ServerProgramLink final : public ServerWireControl, private platform::Clock::Driver {
 public:
  // A process that registered the simulated server itself (a test's)
  // reaches that one: the plug-in's CoCreateInstance finds it first.
  void RegisterServer() override {
    if (SimulatedServer::RegisteredHere()) return InProcessControl().RegisterServer();
    Connect();
  }
  void TraceServer(std::function<void(const std::string&)> sink) override {
    if (SimulatedServer::RegisteredHere()) return InProcessControl().TraceServer(std::move(sink));
    {
      // Kept until the program is reached for something else: a trace is
      // set before the run chooses its clock, which the program's must
      // follow from its start.
      std::lock_guard<std::mutex> lock(m_mutex);
      if (!m_control) {
        m_pendingTrace = std::move(sink);
        return;
      }
    }
    IQuarnSimulatorControl* control = Connect();
    TraceSink* object = sink ? new TraceSink(std::move(sink)) : nullptr;
    const HRESULT hr = control->TraceTo(object);
    if (object) object->Release();
    if (FAILED(hr)) throw std::runtime_error("the simulated server's program did not take the trace: " + HrText(hr));
  }
  void Disconnect() override {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_control) return;
    platform::Clock::Get().RemoveDriver(this);
    if (!EndedLocked()) m_control->TraceTo(nullptr);
    m_control->Release();
    m_control = nullptr;
    CloseHandle(m_processHandle);
    m_processHandle = nullptr;
  }
  void EndServer() override {
    if (SimulatedServer::RegisteredHere()) return InProcessControl().EndServer();
    ServerWireControl::EndServer();
    std::lock_guard<std::mutex> lock(m_mutex);
    // The run goes on only once the program is gone, so that every call
    // after the fault's time finds it gone.
    if (m_processHandle && WaitForSingleObject(m_processHandle, kEndWaitMs) != WAIT_OBJECT_0) {
      throw std::runtime_error("TavixServer.exe (process " + m_process + ") did not end when asked to");
    }
  }
  std::string ServerLost() override {
    if (SimulatedServer::RegisteredHere()) return InProcessControl().ServerLost();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!EndedLocked()) return "";
    DWORD code = 0;
    GetExitCodeProcess(m_processHandle, &code);
    return "TavixServer.exe (process " + m_process + ") ended, exit code " + std::to_string(code);
  }

 private:
  std::string Send(const std::string& name, const std::string& arguments) override {
    if (SimulatedServer::RegisteredHere()) return ServeControlCall(InProcessControl(), name, arguments);
    Connect();
    std::lock_guard<std::mutex> lock(m_mutex);
    return CallLocked(name, arguments);
  }

  // The control, reached (and the program started) at the first need; the
  // program's clock then, and at every later need, in this clock's mode.
  IQuarnSimulatorControl* Connect() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_control) {
      FollowClockLocked();
      return m_control;
    }
    IQuarnSimulatorControl* control = nullptr;
    HRESULT hr = CoGetClassObject(CLSID_TavixServer, CLSCTX_LOCAL_SERVER, nullptr, IID_IQuarnSimulatorControl,
                                  reinterpret_cast<void**>(&control));
    if (FAILED(hr) || !control) {
      // A program killed from outside leaves its class registered: the
      // system answers for it with the dead program's address (wine does
      // until its session ends; Windows forgets it at once).
      const std::string what =
          hr == kServerUnavailable
              ? "a TavixServer.exe that was killed is still registered with the system; "
                "under wine it is forgotten when the wine session ends (wineserver -k)"
          : hr == E_NOINTERFACE
              ? "the server registered is not the simulator's (it offers no simulator control); to simulate, "
                "register the simulator's with TavixServer.exe /RegServer"
              : "register it again with TavixServer.exe /RegServer";
      throw std::runtime_error("the simulated server's program (TavixServer.exe) could not be reached: " +
                               HrText(hr) + "; " + what);
    }
    m_control = control;
    // The clock first: a server made afresh starts at the clock's time.
    m_clockMode.clear();
    FollowClockLocked();
    m_process = CallLocked("Connect", std::to_string(GetCurrentProcessId()));
    m_processHandle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                  static_cast<DWORD>(std::strtoul(m_process.c_str(), nullptr, 10)));
    if (m_pendingTrace) {
      TraceSink* sink = new TraceSink(std::move(m_pendingTrace));
      m_pendingTrace = nullptr;
      m_control->TraceTo(sink);
      sink->Release();
    }
    platform::Clock::Get().AddDriver(this);
    return m_control;
  }

  // The host changes its clock's mode before a run, after the program may
  // have been reached; the program's follows before anything else is done.
  void FollowClockLocked() {
    platform::Clock& clock = platform::Clock::Get();
    const bool isVirtual = clock.GetMode() == platform::Clock::Mode::kVirtual;
    const std::string mode = std::to_string(isVirtual ? 1 : 0) + "," + std::to_string(clock.GetScale());
    if (mode == m_clockMode) return;
    CallLocked("Clock", "[" + std::to_string(isVirtual ? 1 : 0) + "," + std::to_string(clock.NowMs()) + "," +
                            std::to_string(clock.GetScale()) + "]");
    m_clockMode = mode;
  }

  // One call of the control; its result. Throws when it fails.
  std::string CallLocked(const std::string& name, const std::string& arguments) {
    BSTR bstrName = Bstr(name), bstrArguments = Bstr(arguments), result = nullptr;
    const HRESULT hr = m_control->Call(bstrName, bstrArguments, &result);
    const std::string text = Utf8(result);
    SysFreeString(bstrName);
    SysFreeString(bstrArguments);
    SysFreeString(result);
    // A program that ended takes no settings: the run finds it gone.
    if (FAILED(hr) && !EndedLocked()) {
      throw std::runtime_error("the simulated server's program refused " + name + ": " +
                               (text.empty() ? HrText(hr) : text));
    }
    return text;
  }

  // Whether the program reached has ended (killed, crashed or asked to).
  bool EndedLocked() const { return m_processHandle && WaitForSingleObject(m_processHandle, 0) == WAIT_OBJECT_0; }

  // ---- platform::Clock::Driver ----
  IQuarnSimulatorControl* Held() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_control;
  }
  void AdvanceTo(std::int64_t nowMs) override {
    if (IQuarnSimulatorControl* control = Held()) control->AdvanceTo(static_cast<double>(nowMs));
  }
  std::int64_t NextDueMs() override {
    IQuarnSimulatorControl* control = Held();
    double due = -1.0;
    if (!control || FAILED(control->NextDueMs(&due)) || due < 0) return kNothingDue;
    return static_cast<std::int64_t>(due);
  }

  std::string ServerProgram() override {
    if (SimulatedServer::RegisteredHere()) return "";
    Connect();
    std::lock_guard<std::mutex> lock(m_mutex);
    return "TavixServer.exe (process " + m_process + ")";
  }

  std::mutex m_mutex;
  IQuarnSimulatorControl* m_control = nullptr;  // guarded by m_mutex
  std::string m_process;                        // the program's process id; guarded by m_mutex
  HANDLE m_processHandle = nullptr;             // the program's process, while connected; guarded by m_mutex
  std::string m_clockMode;                      // the mode the program's clock was given; guarded by m_mutex
  std::function<void(const std::string&)> m_pendingTrace;  // for the program once reached; guarded by m_mutex
};

}  // namespace

// ---- The program's side ----

std::string RegisterServerProgram(const std::wstring& path) {
  const std::wstring appId = kAppId;
  const struct {
    std::wstring key;
    const wchar_t* name;
    std::wstring value;
  } values[] = {
      {ClassKey(), nullptr, kServerName},
      {ClassKey() + L"\\LocalServer32", nullptr, L"\"" + path + L"\""},
      {ClassKey(), L"AppID", appId},
      {L"AppID\\" + appId, nullptr, kServerName},
      {L"AppID\\TavixServer.EXE", L"AppID", appId},
  };
  for (const auto& v : values) {
    if (const LSTATUS status = SetClassValue(v.key, v.name, v.value); status != ERROR_SUCCESS) {
      return "cannot write HKEY_CLASSES_ROOT\\" + Utf8(v.key) + " (error " + std::to_string(status) +
             "; registering a server needs an administrator's rights)";
    }
  }
  for (int resource = 1; resource <= 2; ++resource) {
    ITypeLib* library = nullptr;
    std::wstring libraryPath = TypeLibPath(path, resource);
    HRESULT hr = LoadTypeLibEx(libraryPath.c_str(), REGKIND_NONE, &library);
    // Registered with its resource number: LoadTypeLibEx's own registration
    // would record the program alone, which names the first library.
    if (SUCCEEDED(hr)) {
      hr = RegisterTypeLib(library, libraryPath.data(), nullptr);
      library->Release();
    }
    if (FAILED(hr)) return "cannot register the type library " + Utf8(libraryPath) + ": " + HrText(hr);
  }
  return "";
}

std::string UnregisterServerProgram() {
  constexpr SYSKIND kSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
  UnRegisterTypeLib(LIBID_TAVIXSERVERLib, 1, 0, LANG_NEUTRAL, kSysKind);
  UnRegisterTypeLib(LIBID_QuarnSimulatorControlLib, 1, 0, LANG_NEUTRAL, kSysKind);
  for (const std::wstring& key : {ClassKey(), L"AppID\\" + std::wstring(kAppId), std::wstring(L"AppID\\TavixServer.EXE")}) {
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
      return "cannot remove HKEY_CLASSES_ROOT\\" + Utf8(key) + " (error " + std::to_string(status) + ")";
    }
  }
  return "";
}

int ServeServerProgram() {
  g_servingHere = true;
  // Still until its first client gives it the client's clock.
  platform::Clock::Get().UseVirtual(0);
  SimulatedServer::Get();
  wchar_t program[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  PinInterfaces(program);
  // Never deleted: the system may still hold it while the program ends.
  auto* classObject = new ServerClassObject;
  DWORD cookie = 0;
  HRESULT hr = CoRegisterClassObject(CLSID_TavixServer, static_cast<IClassFactory*>(classObject),
                                     CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
  if (FAILED(hr)) {
    std::fprintf(stderr, "TavixServer.exe: cannot offer the server to COM: %s\n", HrText(hr).c_str());
    return 1;
  }
  g_classCookie = cookie;
  // COM starts the program with its client's standard handles: let go of
  // them, so that a client's output ends when the client does.
  for (const DWORD handle : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) SetStdHandle(handle, nullptr);
  std::freopen("NUL", "r", stdin);
  std::freopen("NUL", "w", stdout);
  std::freopen("NUL", "w", stderr);
  // What the system holds of the class object while no client does.
  const LONG idle = classObject->References();
  const auto started = std::chrono::steady_clock::now();
  for (;;) {
    std::this_thread::sleep_for(kLifetimeCheck);
    const bool held = (SimulatedServer::Get().LiveObjects() > 0 || classObject->References() > idle) &&
                      !classObject->HostsGone();
    if (classObject->Served() ? !held : std::chrono::steady_clock::now() - started > kFirstClientWait) break;
  }
  CoRevokeClassObject(g_classCookie.exchange(0));
  return 0;
}

// ---- The host's side ----

bool ServerProgramRegistered() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (ClassKey() + L"\\LocalServer32").c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

bool RealServerRegistered() {
  if (g_servingHere || !ServerProgramRegistered()) return false;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (L"TypeLib\\" + GuidText(LIBID_QuarnSimulatorControlLib)).c_str(), 0, KEY_READ,
                    &key) != ERROR_SUCCESS) {
    return true;
  }
  RegCloseKey(key);
  return false;
}

Control* ServerProgramControl() {
  if (g_servingHere || !ServerProgramRegistered()) return nullptr;
  static ServerProgramLink* const program = new ServerProgramLink;  // never destroyed: used up to the process's end
  return program;
}

}  // namespace sim
