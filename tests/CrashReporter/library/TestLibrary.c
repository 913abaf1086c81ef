/* A small shared object for the image-list and preload tests. */
int crs_test_library_value(void) {
  return 42;
}
