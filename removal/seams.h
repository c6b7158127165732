// Routes that only the oldest or most hostile systems take: Windows 95 has
// no delayed deletion, a copy into the system directory may be refused, and
// a copy may fail to start. A build for the tests
// (SETUP_TEST_SEAMS) lets a scenario make such a call act as refused; the
// program that ships compiles the checks away.
#pragma once

#ifdef SETUP_TEST_SEAMS
// True when the environment variable SETUP_TEST_REFUSE names this call.
int TestRefuses(const char *call);
#else
inline int TestRefuses(const char *) { return 0; }
#endif
