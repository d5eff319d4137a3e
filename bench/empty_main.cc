// The smallest windowed program the toolchain builds with the product's flags: the floor for
// endpointfix.exe's size and start-up time.
int main() { return 0; }
