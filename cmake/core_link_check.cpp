// The link check of the portable core: every object of quib_core linked
// with nothing but the C and C++ runtime. A core that calls a Windows
// library, an adapter or a window does not link.
int main() {
  return 0;
}
