#pragma once

// The process's environment as tests change it; each system has its own calls for it.
namespace testsupport {

// Sets the variable, or removes it for a null value.
void SetVariable(const char* name, const char* value);
// Sets the time zone "TZ" names and has the C library's local time follow it.
void UseTimeZone(const char* zone);

}  // namespace testsupport
