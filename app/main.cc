// Placeholder entry point until the front end lands.
int main() { return 1; }
