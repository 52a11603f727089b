#pragma once
// The factory parameter set of a DTU, once, as a record. The window's
// 恢复出厂默认 fills the pages from it (all but the device identifier), the
// command line's `defaults` prints it.

#include "params/app_params.h"

// Host names a DTU out of the factory uses to find its centres. They live under
// a reserved example domain: the technician replaces them with the customer's.
inline constexpr const char* kFactoryHostname1 = "center.dtu-factory.example.net";
inline constexpr const char* kFactoryMasterHost = "manage.dtu-factory.example.net";

// The record of a DTU out of the factory; every field not named in the set is
// zero or empty. Never fails.
TAppParams FactoryParams();
