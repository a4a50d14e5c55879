/* A program that only sleeps, for tests that start, find and end processes
   by name: it sleeps for the seconds given (60 without an argument) and
   then exits with status 3, so any other status means something ended it. */
#include <stdlib.h>
#include <windows.h>

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? atoi(argv[1]) : 60;
  Sleep((DWORD)seconds * 1000u);
  return 3;
}
