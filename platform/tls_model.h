// PEZ_TLS_INITIAL_EXEC marks a thread_local that a module reads on a hot path: on ELF systems it
// then lives in the static TLS block (one load from the thread pointer) instead of going through
// __tls_get_addr, which a module loaded at run time would otherwise call on every access. The
// loader keeps room in that block for a few such words of modules loaded later.
#pragma once

#if defined(__ELF__)
#define PEZ_TLS_INITIAL_EXEC __attribute__((tls_model("initial-exec")))
#else
#define PEZ_TLS_INITIAL_EXEC
#endif
