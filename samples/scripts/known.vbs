WScript.Echo "Hello from VBScript"
' Run with its engine hooked: the host's calls on the engine show in the trace.
