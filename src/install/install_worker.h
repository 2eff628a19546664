// The install worker thread (placeholder until the worker lands).
#pragma once

#ifdef _WIN32
unsigned long __stdcall install_worker(void* parameter);
#else
void* install_worker(void* parameter);
#endif
