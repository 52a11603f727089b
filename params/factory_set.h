#pragma once
// Host names a DTU out of the factory uses to find its centres. They live under
// a reserved example domain: the technician replaces them with the customer's.

inline constexpr const char* kFactoryHostname1 = "center.dtu-factory.example.net";
inline constexpr const char* kFactoryMasterHost = "manage.dtu-factory.example.net";
