// A published launcher that cannot run: it ends at once with 1, whatever it is asked. It
// carries a build number, as the release tool requires of a launcher it publishes.
extern const char k_marker[];
const char k_marker[] = "VORNA380-BUILD-NUMBER:0000000001;";

int main() {
  const char* volatile marker = k_marker;  // kept in the executable
  return marker[0] == 'V' ? 1 : 2;
}
