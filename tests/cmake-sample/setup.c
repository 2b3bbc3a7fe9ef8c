/* The sample's setup program: it only reports its exit code. */
#ifndef SAMPLE_EXIT_CODE
#define SAMPLE_EXIT_CODE 0
#endif
int main(void) { return SAMPLE_EXIT_CODE; }
