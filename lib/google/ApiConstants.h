#pragma once
// The Data API client's error domains, user-info keys and library version.

// Errors made from a JSON-RPC "error" member: the code is the member's code.
inline constexpr char ApiJSONRPCErrorDomain[] = "org.pelorin.api.ApiJSONRPCErrorDomain";
// The user-info key under which such an error keeps its error object.
inline constexpr char ApiStructuredErrorKey[] = "ApiStructuredError";

// The client library's version: 2.0.0. Each out-argument may be null.
void ApiLibraryVersion(long* major, long* minor, long* release);
// "2.0", as the service's User-Agent carries it.
const char* ApiLibraryVersionString();
