// The qlxWrap task: the application JAR and its runtime class path in, one
// program file (and, with dependencies = 'lib', a lib/ folder beside it)
// out. Every setting is a plain task property with its input or output
// annotation, so Gradle knows when the program is up to date; a setting not
// set on the task comes from qlx { }.
package com.tarnwick.qlx.gradle;

import com.tarnwick.qlx.wrap.BuildRequest;
import com.tarnwick.qlx.wrap.WrapException;
import com.tarnwick.qlx.wrap.WrapRequest;
import java.io.File;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import org.gradle.api.DefaultTask;
import org.gradle.api.GradleException;
import org.gradle.api.Task;
import org.gradle.api.file.FileCollection;
import org.gradle.api.tasks.Classpath;
import org.gradle.api.tasks.Input;
import org.gradle.api.tasks.InputFile;
import org.gradle.api.tasks.Internal;
import org.gradle.api.tasks.Optional;
import org.gradle.api.tasks.OutputDirectory;
import org.gradle.api.tasks.OutputFile;
import org.gradle.api.tasks.TaskAction;

public class QlxWrap extends DefaultTask {
    private QlxExtension defaults;
    private Task jarTask;
    private FileCollection runtimeClasspath;
    private File jar;
    private File output;
    private String mainClass;
    private String dependencies;

    void useDefaults(QlxExtension extension, Task jarTask, FileCollection runtimeClasspath) {
        this.defaults = extension;
        this.jarTask = jarTask;
        this.runtimeClasspath = runtimeClasspath;
    }

    private QlxExtension ext() {
        return defaults != null ? defaults : new QlxExtension(getProject());
    }

    /** The application JAR; default: the jar task's archive. */
    @InputFile
    public File getJar() {
        if (jar != null) return jar;
        return jarTask != null ? jarTask.getOutputs().getFiles().getSingleFile() : null;
    }

    public void setJar(Object v) {
        jar = getProject().file(v);
    }

    /** The runtime dependencies (merged or copied into lib/, as `dependencies` says). */
    @Classpath
    public FileCollection getRuntimeClasspath() {
        return runtimeClasspath != null ? runtimeClasspath : getProject().files();
    }

    public void setRuntimeClasspath(FileCollection v) {
        runtimeClasspath = v;
    }

    /** Default: build/qlx/NAME.exe for the JAR NAME.jar (no .exe for linux). */
    @OutputFile
    public File getOutput() {
        if (output != null) return output;
        if (ext().output != null) return ext().output;
        String name = getJar() == null ? getProject().getName() : getJar().getName().replaceFirst("\\.jar$", "");
        return new File(getProject().getBuildDir(), "qlx/" + name + ("linux".equals(getPlatform()) ? "" : ".exe"));
    }

    public void setOutput(Object v) {
        output = getProject().file(v);
    }

    /** lib/ beside the program when the dependencies are copied there. */
    @OutputDirectory
    @Optional
    public File getLibDirectory() {
        return "lib".equalsIgnoreCase(getDependencies().trim()) ? new File(getOutput().getParentFile(), "lib") : null;
    }

    @Input
    public String getDependencies() {
        return dependencies != null ? dependencies : ext().dependencies;
    }

    public void setDependencies(String v) {
        dependencies = v;
    }

    @Input
    @Optional
    public String getMainClass() {
        return mainClass != null ? mainClass : ext().mainClass;
    }

    public void setMainClass(String v) {
        mainClass = v;
    }

    @Input public String getPlatform() { return ext().platform; }
    @InputFile @Optional public File getStub() { return ext().stub; }
    @Input public List<String> getOptions() { return ext().options; }
    @Input @Optional public String getMinJre() { return ext().minJre; }
    @Input @Optional public String getMaxJre() { return ext().maxJre; }
    @Input @Optional public String getSingleInstance() { return ext().singleInstance; }
    @Input @Optional public String getServiceName() { return ext().serviceName; }
    @Input @Optional public String getDisplayName() { return ext().displayName; }
    @Input @Optional public String getServiceDescription() { return ext().serviceDescription; }
    @Input public List<String> getServiceDependencies() { return ext().serviceDependencies; }
    @Input @Optional public String getStartType() { return ext().startType; }
    @Input @Optional public String getAccount() { return ext().account; }
    @Input @Optional public String getRecovery() { return ext().recovery; }
    @Input @Optional public String getFailOnExit() { return ext().failOnExit; }
    @InputFile @Optional public File getIcon() { return ext().icon; }
    @Input @Optional public String getFileVersion() { return ext().fileVersion; }
    @Input @Optional public String getProductVersion() { return ext().productVersion; }
    @Input @Optional public String getProductName() { return ext().productName; }
    @Input @Optional public String getCompanyName() { return ext().companyName; }
    @Input @Optional public String getFileDescription() { return ext().fileDescription; }
    @Input @Optional public String getCopyright() { return ext().copyright; }
    @Input public String getExecutionLevel() { return ext().executionLevel; }
    @Input public boolean isUtf8CodePage() { return ext().utf8CodePage; }
    @Input public boolean isSupport() { return ext().support; }
    @InputFile @Optional public File getConfigFile() { return ext().configFile; }
    @Input public List<String> getConfig() { return ext().config; }

    /** The project version the version resource defaults to. */
    @Input
    public String getProjectVersion() {
        return String.valueOf(getProject().getVersion());
    }

    @Internal
    public String getProjectDescription() {
        return getProject().getDescription();
    }

    @TaskAction
    public void wrap() {
        boolean linux = "linux".equals(getPlatform());
        BuildRequest request = new BuildRequest();
        WrapRequest w = request.wrap;
        w.jar = getJar().getPath();
        w.output = getOutput().getPath();
        w.platform = getPlatform();
        w.stub = getStub() != null ? getStub().getPath() : null;
        w.support = isSupport();
        w.icon = getIcon() != null ? getIcon().getPath() : null;
        w.executionLevel = getExecutionLevel();
        w.utf8CodePage = isUtf8CodePage();
        w.identity.name = getServiceName();
        w.identity.displayName = getDisplayName();
        w.identity.description = getServiceDescription();
        w.identity.dependencies = getServiceDependencies().isEmpty() ? null : String.join("/", getServiceDependencies());
        w.identity.startType = getStartType();
        w.identity.account = getAccount();
        w.identity.recovery = getRecovery();
        w.identity.failOnExit = getFailOnExit();
        if (!linux) {
            w.version.fileVersion = getFileVersion() != null ? getFileVersion() : BuildRequest.fourNumbers(getProjectVersion());
            w.version.productVersion = getProductVersion() != null ? getProductVersion() : w.version.fileVersion;
            w.version.productName = getProductName() != null ? getProductName() : getProject().getName();
            w.version.company = getCompanyName();
            w.version.fileDescription = getFileDescription() != null ? getFileDescription() : getProjectDescription();
            w.version.copyright = getCopyright();
        }
        request.mainClass = getMainClass();
        request.options.addAll(getOptions());
        request.minJre = getMinJre();
        request.maxJre = getMaxJre();
        request.singleInstance = getSingleInstance();
        request.configLines.addAll(getConfig());
        request.configFile = getConfigFile();
        request.origins = setting -> "qlx { " + setting + " }";
        try {
            request.dependencies = BuildRequest.Dependencies.of(getDependencies());
            if (request.dependencies != BuildRequest.Dependencies.NONE) request.libraries.addAll(libraries());
            BuildRequest.Outcome outcome = request.run();
            for (String warning : outcome.warnings) getLogger().warn("qlx: " + warning);
            for (String note : outcome.notes) getLogger().lifecycle("qlx: " + note);
        } catch (WrapException e) {
            throw new GradleException("qlxwrap: " + e.getMessage());
        }
    }

    private List<BuildRequest.Library> libraries() {
        List<BuildRequest.Library> out = new ArrayList<BuildRequest.Library>();
        Set<String> names = new HashSet<String>();
        for (File f : getRuntimeClasspath().getFiles()) {
            if (!f.isFile() || !f.getName().toLowerCase(java.util.Locale.ROOT).endsWith(".jar")) continue;
            String name = f.getName();
            for (int n = 2; !names.add(name); ++n) name = n + "-" + f.getName();
            out.add(new BuildRequest.Library(f, name));
        }
        return out;
    }
}
