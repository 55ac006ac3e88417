// Entry point of zolsampler.
int main() {
  return 0;
}
