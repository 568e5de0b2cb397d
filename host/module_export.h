// Import/export decoration for the C functions that modules expose to each other.
#pragma once

#if defined(_WIN32)
#define PEZ_EXPORT __declspec(dllexport)
#define PEZ_IMPORT __declspec(dllimport)
#else
#define PEZ_EXPORT __attribute__((visibility("default")))
#define PEZ_IMPORT
#endif
