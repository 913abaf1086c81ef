/* Opened by LazyLibraryTest on its first use, never linked. */
int lazyFixtureAnswer(void) {
  return 42;
}

int lazyFixtureOwn(void) {
  return 1;
}
