// The README's P/Invoke declaration, as a C# program calls it: BlurConsumer SOURCE OUTPUT prints
// BMPBlur's result and exits with it. Mono marshals the strings as UTF-16, which BMPBlur takes.
using System;
using System.Runtime.InteropServices;

static class BlurConsumer
{
    [DllImport("DorvaneBMPBlur.dll", CharSet = CharSet.Unicode)]
    static extern int BMPBlur(string source, string output);

    static int Main(string[] args)
    {
        int result = BMPBlur(args[0], args[1]);
        Console.WriteLine(result);
        return result;
    }
}
