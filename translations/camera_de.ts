<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Camera</name>
    <message>
        <location filename="../app/camera.cpp" line="38"/>
        <source>Camera</source>
        <translation>Kamera</translation>
    </message>
    <message>
        <location filename="../app/capturecycle.cpp" line="66"/>
        <location filename="../app/capturecycle.cpp" line="121"/>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <location filename="../app/capturecycle.cpp" line="67"/>
        <source>Insert the Camera Card 
(QD-CM09) before starting 
the Camera application.</source>
        <translation>Stecken Sie die Kamerakarte 
(QD-CM09) ein, bevor Sie 
die Kamera-Anwendung starten.</translation>
    </message>
    <message>
        <location filename="../app/capturecycle.cpp" line="122"/>
        <source>Save failed!
Please check storage status.</source>
        <translation>Speichern fehlgeschlagen!
Bitte prüfen Sie den Speicher.</translation>
    </message>
    <message>
        <location filename="../app/capturecycle.cpp" line="127"/>
        <source>Saved</source>
        <translation>Gespeichert</translation>
    </message>
    <message>
        <location filename="../options/captureformats.cpp" line="27"/>
        <source>Landscape</source>
        <translation>Querformat</translation>
    </message>
    <message>
        <location filename="../options/captureformats.cpp" line="28"/>
        <source>Portrait</source>
        <translation>Hochformat</translation>
    </message>
    <message>
        <location filename="../options/captureformats.cpp" line="29"/>
        <source>Square</source>
        <translation>Quadrat</translation>
    </message>
    <message>
        <location filename="../options/captureformats.cpp" line="33"/>
        <source>Normal</source>
        <translation>Standard</translation>
    </message>
    <message>
        <location filename="../options/captureformats.cpp" line="34"/>
        <source>Fine</source>
        <translation>Fein</translation>
    </message>
    <message>
        <location filename="../options/optioncontrols.cpp" line="159"/>
        <source>Card Locked !</source>
        <translation>Karte gesperrt!</translation>
    </message>
    <message>
        <location filename="../settings/settings.cpp" line="73"/>
        <source>pic</source>
        <translation>bild</translation>
    </message>
    <message>
        <location filename="formatnames.h" line="7"/>
        <source>480x640</source>
        <translation>480x640</translation>
    </message>
    <message>
        <location filename="formatnames.h" line="8"/>
        <source>480x480</source>
        <translation>480x480</translation>
    </message>
    <message>
        <location filename="formatnames.h" line="9"/>
        <source>480x320</source>
        <translation>480x320</translation>
    </message>
    <message>
        <location filename="formatnames.h" line="10"/>
        <source>240x320</source>
        <translation>240x320</translation>
    </message>
    <message>
        <location filename="formatnames.h" line="11"/>
        <source>240x240</source>
        <translation>240x240</translation>
    </message>
    <message>
        <location filename="formatnames.h" line="12"/>
        <source>240x160</source>
        <translation>240x160</translation>
    </message>
    <message>
        <location filename="formatnames.h" line="13"/>
        <source>160x160</source>
        <translation>160x160</translation>
    </message>
    <message>
        <location filename="formatnames.h" line="14"/>
        <source>120x160</source>
        <translation>120x160</translation>
    </message>
    <message>
        <location filename="formatnames.h" line="15"/>
        <source>120x80</source>
        <translation>120x80</translation>
    </message>
    <message>
        <location filename="formatnames.h" line="16"/>
        <source>80x80</source>
        <translation>80x80</translation>
    </message>
    <message>
        <location filename="formatnames.h" line="17"/>
        <source>256x256</source>
        <translation>256x256</translation>
    </message>
    <message>
        <location filename="formatnames.h" line="18"/>
        <source>128x128</source>
        <translation>128x128</translation>
    </message>
    <message>
        <location filename="formatnames.h" line="19"/>
        <source>64x64</source>
        <translation>64x64</translation>
    </message>
</context>
<context>
    <name>CameraBase</name>
    <message>
        <location filename="../form/camerabase.cpp" line="44"/>
        <source>CameraBase</source>
        <translation>CameraBase</translation>
    </message>
    <message>
        <location filename="../form/camerabase.cpp" line="50"/>
        <source>Remain</source>
        <translation>Verbleibend</translation>
    </message>
    <message>
        <location filename="../form/camerabase.cpp" line="59"/>
        <location filename="../form/camerabase.cpp" line="71"/>
        <source>Resolution</source>
        <translation>Auflösung</translation>
    </message>
    <message>
        <location filename="../form/camerabase.cpp" line="60"/>
        <location filename="../form/camerabase.cpp" line="72"/>
        <source>Quality</source>
        <translation>Qualität</translation>
    </message>
    <message>
        <location filename="../form/camerabase.cpp" line="61"/>
        <source>Save to</source>
        <translation>Ablageort</translation>
    </message>
    <message>
        <location filename="../form/camerabase.cpp" line="63"/>
        <source>F</source>
        <translation>V</translation>
    </message>
    <message>
        <location filename="../form/camerabase.cpp" line="64"/>
        <source>M</source>
        <translation>S</translation>
    </message>
    <message>
        <location filename="../form/camerabase.cpp" line="65"/>
        <source>DispMode</source>
        <translation>Anzeige</translation>
    </message>
    <message>
        <location filename="../form/camerabase.cpp" line="68"/>
        <source>Zoom</source>
        <translation>Zoom</translation>
    </message>
    <message>
        <location filename="../form/camerabase.cpp" line="70"/>
        <source>D</source>
        <translation>R</translation>
    </message>
    <message>
        <location filename="../form/camerabase.cpp" line="73"/>
        <source>SaveTo</source>
        <translation>Speicher</translation>
    </message>
    <message>
        <location filename="../form/camerabase.cpp" line="76"/>
        <source>Shutter</source>
        <translation>Auslöser</translation>
    </message>
    <message>
        <location filename="../form/camerabase.cpp" line="88"/>
        <source>Saved</source>
        <translation>Gespeichert</translation>
    </message>
</context>
<context>
    <name>StorageInfo</name>
    <message>
        <location filename="../platform/storageinfo.cpp" line="9"/>
        <source>Internal</source>
        <translation>Intern</translation>
    </message>
    <message>
        <location filename="../platform/storageinfo.cpp" line="12"/>
        <source>Card</source>
        <translation>Karte</translation>
    </message>
    <message>
        <location filename="../platform/storageinfo.cpp" line="13"/>
        <source>Memory Card</source>
        <translation>Speicherkarte</translation>
    </message>
</context>
</TS>
