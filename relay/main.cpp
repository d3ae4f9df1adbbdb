// The program's entry: one CGI request per process.
int main() { return 0; }
