// Process entry of the vornak program.
#include <cstdio>

int main() {
    std::puts("vornak " VORNAK_VERSION);
    return 0;
}
