// cscript //nologo shell_shortcut.js <values file>: saves shortcuts through WScript.Shell as
// the command builder's PowerShell line does. The file (UTF-16) holds five lines a shortcut:
// its path, TargetPath, Arguments, WorkingDirectory, IconLocation. Prints each one's number.
var shell = WScript.CreateObject("WScript.Shell");
// 1: for reading; -1: Unicode.
var file = WScript.CreateObject("Scripting.FileSystemObject").OpenTextFile(WScript.Arguments(0), 1, false, -1);
var lines = [];
while (!file.AtEndOfStream) lines.push(file.ReadLine());
file.Close();
for (var i = 0; i + 5 <= lines.length; i += 5) {
  var link = shell.CreateShortcut(lines[i]);
  link.TargetPath = lines[i + 1];
  link.Arguments = lines[i + 2];
  link.WorkingDirectory = lines[i + 3];
  link.IconLocation = lines[i + 4];
  link.Save();
  WScript.Echo(i / 5);
}
