#pragma once
// Marks the plug-in's two entry points as the only symbols the module exports.
#if defined(_WIN32)
#define QUORLIX_EXPORT __declspec(dllexport)
#else
#define QUORLIX_EXPORT __attribute__((visibility("default")))
#endif
