// Stands in for our CD library so that tests can tell which file the loader picked.
int CR_GetNumCDROM(void) {
  return 4242;
}
