/* Linked into LazyLibraryTest: it comes before the opened library in the process's lookup order,
   as a library put there with LD_PRELOAD does. */
int lazyFixtureAnswer(void) {
  return 7;
}

int lazyFixtureLinked(void) {
  return 2;
}
