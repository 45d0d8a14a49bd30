/* wait-exit.exe PROGRAM [ARGUMENTS]: runs the program, its standard handles
 * this one's, and exits with the exit code Windows gives it (127 when it
 * cannot be started). For the tests under Wine, whose server kills with
 * SIGKILL a process whose Unix side is still ending a second after its
 * last thread (Mesa's shut-down on a busy machine takes longer): `wine`
 * then reports the signal, and the program's own exit code is lost. */
#include <windows.h>

int main(void)
{
	/* The command line past this program's name, quoted or not. */
	wchar_t *line = GetCommandLineW();
	for (bool quoted = false; *line && (quoted || (*line != L' ' && *line != L'\t')); line++)
		quoted ^= *line == L'"';
	while (*line == L' ' || *line == L'\t')
		line++;
	STARTUPINFOW start = {};
	start.cb = sizeof start;
	start.dwFlags = STARTF_USESTDHANDLES;
	start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
	start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
	start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
	PROCESS_INFORMATION program;
	DWORD code = 127;
	if (CreateProcessW(NULL, line, NULL, NULL, TRUE, 0, NULL, NULL, &start, &program)) {
		WaitForSingleObject(program.hProcess, INFINITE);
		GetExitCodeProcess(program.hProcess, &code);
	}
	return (int)code;
}
