@echo off
rem Runs every test program of this kit, one after another, each in a fresh folder under %TEMP%
rem (its current folder and its TEMP), and writes resultados\resumen.txt: each program's passed,
rem failed and skipped rows (with why), ending with "N passed, N failed". Beside it stay each
rem program's XML results and console output, and the logs of the rows that failed.
rem Needs no administrator rights, no network beyond 127.0.0.1 and nothing installed.
rem   ejecutar_pruebas.cmd [PROGRAM]     PROGRAM: one program of pruebas\ only (its name, no .exe)
setlocal EnableExtensions
set "KIT=%~dp0"
set "KIT=%KIT:~0,-1%"
set "RESULTADOS=%KIT%\resultados"
set "TEMP_KIT=%TEMP%"
set "TMP_KIT=%TMP%"
if exist "%RESULTADOS%" call :borrar "%RESULTADOS%"
mkdir "%RESULTADOS%"
set "SOLO=*"
if not "%~1"=="" set "SOLO=%~1"
rem From inside the folder: a quoted pattern with a folder is not expanded everywhere (Wine's cmd).
pushd "%KIT%\pruebas"
for %%P in (%SOLO%.exe) do call :programa "%KIT%\pruebas\%%~nxP" "%%~nP"
popd
"%KIT%\herramientas\brivon_kit_summary.exe" "%RESULTADOS%" > "%RESULTADOS%\resumen.txt"
set "FINAL=%ERRORLEVEL%"
type "%RESULTADOS%\resumen.txt"
echo Results and logs: %RESULTADOS%
exit /b %FINAL%

:programa
echo %~2 ...
set "CARPETA=%TEMP_KIT%\brivon-kit-%~2-%RANDOM%"
if exist "%CARPETA%" goto programa
mkdir "%CARPETA%"
pushd "%CARPETA%"
set "TEMP=%CARPETA%"
set "TMP=%CARPETA%"
"%~1" --gtest_color=no "--gtest_output=xml:%RESULTADOS%\%~2.xml" > "%RESULTADOS%\%~2.txt" 2>&1
set "CODIGO=%ERRORLEVEL%"
set "TEMP=%TEMP_KIT%"
set "TMP=%TMP_KIT%"
popd
if not exist "%RESULTADOS%\%~2.xml" > "%RESULTADOS%\%~2.sin_xml" echo %CODIGO%
rem A failed row leaves its folder (TempFolder): keep the program's logs and documents in it.
if not "%CODIGO%"=="0" (
  xcopy "%CARPETA%\*.csv" "%RESULTADOS%\registros\%~2\" /s /i /q /y > nul 2>&1
  xcopy "%CARPETA%\*.txt" "%RESULTADOS%\registros\%~2\" /s /i /q /y > nul 2>&1
  xcopy "%CARPETA%\*.json" "%RESULTADOS%\registros\%~2\" /s /i /q /y > nul 2>&1
)
call :borrar "%CARPETA%"
goto :eof

:borrar
rem Wine's rmdir /s, meeting a path past 260 characters, deletes the files of the current folder
rem instead: it runs from an empty folder of its own.
set "VACIA=%TEMP_KIT%\brivon-kit-vacia-%RANDOM%"
mkdir "%VACIA%" > nul 2>&1
if not exist "%VACIA%\" goto :eof
pushd "%VACIA%"
rmdir /s /q "%~1" > nul 2>&1
popd
rmdir "%VACIA%" > nul 2>&1
goto :eof
