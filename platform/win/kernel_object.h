// What a HANDLE of the Windows stand-ins points to.
//
// Contract: every service that hands out a HANDLE (threads now; events or
// processes when they join) allocates an object derived from KernelObject
// and returns its address; CloseHandle deletes it through the virtual
// destructor. Closing a handle never stops what it names.
#pragma once

namespace platform {

class KernelObject {
 public:
  KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;
  virtual ~KernelObject() = default;
};

}  // namespace platform
